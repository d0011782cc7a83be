// The registry stand-in and the reading of one value as text, natively.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/LibraryInstall.h"
#include "host/registry_posix.h"
#include "tests/support/platform_support.h"

namespace host {
namespace {

using testing_support::kMachine;
using testing_support::kUser;

// A value stored as Windows stores a string: its characters and the closing NUL.
std::string StoredString(const std::string& text) { return text + std::string(1, '\0'); }

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_registry::Clear(); }
  void TearDown() override { fake_registry::Clear(); }
};

TEST_F(RegistryTest, OpensKeysLikeTheRegistryDoes) {
  fake_registry::SetValue(kMachine, "SOFTWARE\\Vendor\\Tool\\1.0", "RootDir", StoredString("x"));
  fake_registry::CreateKey(kUser, "Software\\Empty");
  fake_registry::CreateKey(kMachine, "SOFTWARE\\Vendor!");  // sorts between a key and its children
  struct Case {
    const char* name;
    RegistryRoot root;
    const char* path;
    bool opens;
  };
  const Case cases[] = {
      {"exact path", kMachine, "SOFTWARE\\Vendor\\Tool\\1.0", true},
      {"other case", kMachine, "software\\VENDOR\\tool\\1.0", true},
      {"parent of a created key", kMachine, "SOFTWARE\\Vendor", true},
      {"grandparent of a created key", kMachine, "SOFTWARE", true},
      {"key created without values", kUser, "Software\\Empty", true},
      {"the root itself", kUser, "", true},
      {"a name that only begins like a key", kMachine, "SOFTWARE\\Vend", false},
      {"a child that was never created", kMachine, "SOFTWARE\\Vendor\\Tool\\1.0\\Library", false},
      {"same path under the other root", kUser, "SOFTWARE\\Vendor\\Tool\\1.0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RegistryKey::OpenForReading(c.root, c.path).has_value(), c.opens);
  }
}

TEST_F(RegistryTest, QueriesRawBytesUpToTheBufferSize) {
  const std::string key = "SOFTWARE\\Vendor\\Tool\\1.0";
  const std::string fits(kRegistryValueBufferSize, 'f');
  const std::string too_large(kRegistryValueBufferSize + 1, 'g');
  const std::string with_nuls("a\0b\0", 4);
  fake_registry::SetValue(kMachine, key, "Fits", fits);
  fake_registry::SetValue(kMachine, key, "TooLarge", too_large);
  fake_registry::SetValue(kMachine, key, "WithNuls", with_nuls);
  fake_registry::SetValue(kMachine, key, "", StoredString("default"));
  struct Case {
    const char* name;
    const char* value_name;
    std::optional<std::string> bytes;
  };
  const Case cases[] = {
      {"exactly the buffer size", "Fits", fits},
      {"one byte more than the buffer", "TooLarge", std::nullopt},
      {"NUL bytes kept", "WithNuls", with_nuls},
      {"value name in other case", "withnuls", with_nuls},
      {"the unnamed value", "", StoredString("default")},
      {"missing value", "Absent", std::nullopt},
  };
  const std::optional<RegistryKey> opened = RegistryKey::OpenForReading(kMachine, key);
  ASSERT_TRUE(opened.has_value());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(opened->QueryValueBytes(c.value_name), c.bytes);
  }
}

TEST_F(RegistryTest, ParentKeyHoldsNoValuesOfItsChildren) {
  fake_registry::SetValue(kMachine, "SOFTWARE\\Vendor\\Tool", "RootDir", StoredString("x"));
  const std::optional<RegistryKey> parent =
      RegistryKey::OpenForReading(kMachine, "SOFTWARE\\Vendor");
  ASSERT_TRUE(parent.has_value());
  EXPECT_EQ(parent->QueryValueBytes("RootDir"), std::nullopt);
}

TEST_F(RegistryTest, ResolveKeyTakesBackslashKeysRelativeToTheKeyPath) {
  const TComponentInstall install = TComponentInstall::Create("Delphi", 7);
  struct Case {
    const char* name;
    const char* key;
    const char* resolved;
  };
  const Case cases[] = {
      {"relative key", "\\Library", "SOFTWARE\\Borland\\Delphi\\7.0\\Library"},
      {"a lone backslash", "\\", "SOFTWARE\\Borland\\Delphi\\7.0\\"},
      {"absolute key", "SOFTWARE\\Other", "SOFTWARE\\Other"},
      {"empty key", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(install.ResolveKey(c.key), c.resolved);
  }
}

TEST_F(RegistryTest, ReadRegistryStringTakesBytesUpToTheFirstNulOrTheCount) {
  const std::string key = "SOFTWARE\\Borland\\Delphi\\7.0";
  const std::string longest(kRegistryValueBufferSize, 'L');
  struct Case {
    const char* name;
    std::string stored;       // raw bytes
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"string with its closing NUL", StoredString("C:\\IDE"), "C:\\IDE"},
      {"bytes without a NUL end at the count", "C:\\IDE", "C:\\IDE"},
      {"a NUL in the middle cuts", std::string("C:\\A\0C:\\B\0", 10), "C:\\A"},
      {"expandable text stays unexpanded", StoredString("%ProgramFiles%\\IDE"),
       "%ProgramFiles%\\IDE"},
      {"a DWORD reads as its bytes", std::string("AB\0\0", 4), "AB"},
      {"a leading NUL gives empty", std::string("\0abc", 4), ""},
      {"no bytes give empty", "", ""},
      {"4097 bytes without a NUL", longest, longest},
      {"4096 characters and the NUL", StoredString(longest.substr(1)), longest.substr(1)},
      {"4097 characters and the NUL is too large", StoredString(longest), ""},
  };
  const TComponentInstall install = TComponentInstall::Create("Delphi", 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_registry::SetValue(kMachine, key, "Value", c.stored);
    EXPECT_EQ(install.ReadRegistryString(kMachine, key, "Value"), c.expected);
  }
}

TEST_F(RegistryTest, ReadRegistryStringGivesEmptyWhereNothingIsFound) {
  fake_registry::SetValue(kMachine, "SOFTWARE\\Borland\\Delphi\\7.0", "RootDir", StoredString("M"));
  fake_registry::SetValue(kUser, "SOFTWARE\\Borland\\Delphi\\7.0\\Library", "Package DPL Output",
                          StoredString("U"));
  const TComponentInstall install = TComponentInstall::Create("Delphi", 7);
  struct Case {
    const char* name;
    RegistryRoot root;
    const char* key;
    const char* value_name;
    const char* expected;
  };
  const Case cases[] = {
      {"machine value", kMachine, "SOFTWARE\\Borland\\Delphi\\7.0", "RootDir", "M"},
      {"names in other case", kMachine, "software\\borland\\DELPHI\\7.0", "rootdir", "M"},
      {"relative key", kUser, "\\Library", "Package DPL Output", "U"},
      {"missing value", kMachine, "SOFTWARE\\Borland\\Delphi\\7.0", "Version", ""},
      {"missing key", kMachine, "SOFTWARE\\Borland\\Delphi\\8.0", "RootDir", ""},
      {"value of the other root", kUser, "SOFTWARE\\Borland\\Delphi\\7.0", "RootDir", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(install.ReadRegistryString(c.root, c.key, c.value_name), c.expected);
  }
}

}  // namespace
}  // namespace host
