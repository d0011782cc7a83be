// The registry layer over the real registry (the Wine prefix's under Wine): value types, sizes and
// views. The IDE lookup's table runs on every platform (library_install_test.cpp).
// The tests write their own keys and remove them afterwards. Other test programs may run at the
// same time in the same registry, and both builds of this one may, so every key written here
// carries a number that depends on the build and that no real environment or other test uses.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/LibraryInstall.h"
#include "host/helpers.h"
#include "host/registry.h"
#include "host/win32.h"
#include "tests/support/platform_support.h"

namespace host {
namespace {

using testing_support::BorlandKey;
using testing_support::kBuildBits;
using testing_support::kMachine;
using testing_support::kUser;
using testing_support::RegistryView;
using testing_support::ScopedRegistryKey;

std::string TestKeyPath(const std::string& leaf) {
  return "SOFTWARE\\SetupRegistryTest" + std::to_string(kBuildBits) + leaf;
}

std::string DwordBytes(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

TEST(RegistryWin32Test, ReadsEveryValueTypeAsItsBytes) {
  ScopedRegistryKey key(kMachine, TestKeyPath("Types"), RegistryView::kThirtyTwoBit);
  const std::string longest(kRegistryValueBufferSize, 'L');
  struct Case {
    const char* name;
    DWORD type;
    std::string stored;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"string", REG_SZ, std::string("C:\\IDE\0", 7), "C:\\IDE"},
      {"string with a NUL inside", REG_SZ, std::string("C:\\A\0C:\\B\0", 10), "C:\\A"},
      {"empty string", REG_SZ, std::string("\0", 1), ""},
      {"expandable string stays unexpanded", REG_EXPAND_SZ,
       std::string("%SystemRoot%\\IDE\0", 17), "%SystemRoot%\\IDE"},
      {"DWORD read as its bytes", REG_DWORD, DwordBytes(0x00434241), "ABC"},
      {"DWORD zero", REG_DWORD, DwordBytes(0), ""},
      {"multi-string up to its first NUL", REG_MULTI_SZ, std::string("one\0two\0\0", 9), "one"},
      {"4097 binary bytes without a NUL", REG_BINARY, longest, longest},
      {"4098 binary bytes are too large", REG_BINARY, longest + "L", ""},
      {"4096 characters and the NUL", REG_SZ, longest.substr(1) + '\0', longest.substr(1)},
      {"4097 characters and the NUL are too large", REG_SZ, longest + '\0', ""},
  };
  // Setting every value before reading any shows that each reading finds its own value.
  for (const Case& c : cases) {
    key.SetValue("", c.name, c.type, c.stored);
  }
  const TComponentInstall install = TComponentInstall::Create("Delphi", 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(install.ReadRegistryString(kMachine, key.path(), c.name), c.expected);
  }
}

TEST(RegistryWin32Test, MissingKeysAndValuesReadEmpty) {
  ScopedRegistryKey key(kMachine, TestKeyPath("Missing"), RegistryView::kThirtyTwoBit);
  key.SetString("", "Present", "here");
  const TComponentInstall install = TComponentInstall::Create("Delphi", 7);
  struct Case {
    const char* name;
    RegistryRoot root;
    std::string key;
    const char* value_name;
    const char* expected;
  };
  const Case cases[] = {
      {"present value", kMachine, key.path(), "Present", "here"},
      {"names in other case", kMachine, UpperCaseAscii(key.path()), "PRESENT", "here"},
      {"missing value", kMachine, key.path(), "Absent", ""},
      {"missing key", kMachine, key.path() + "\\Absent", "Present", ""},
      {"same path under the other root", kUser, key.path(), "Present", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(install.ReadRegistryString(c.root, c.key, c.value_name), c.expected);
  }
}

TEST(RegistryWin32Test, SeesOnlyTheThirtyTwoBitView) {
  const std::string path = TestKeyPath("Views");
  ScopedRegistryKey only64(kMachine, path, RegistryView::kSixtyFourBit);
  ScopedRegistryKey only32(kMachine, path, RegistryView::kThirtyTwoBit);
  only64.SetString("", "RootDir", "sixty-four");
  only32.SetString("", "Version", "thirty-two");
  only64.SetString("Only64", "RootDir", "sixty-four");
  const TComponentInstall install = TComponentInstall::Create("Delphi", 7);
  EXPECT_EQ(install.ReadRegistryString(kMachine, path, "Version"), "thirty-two");
  EXPECT_EQ(install.ReadRegistryString(kMachine, path, "RootDir"), "");
  EXPECT_EQ(install.ReadRegistryString(kMachine, path + "\\Only64", "RootDir"), "");
}

TEST(LibraryInstallWin32Test, EnvironmentOnlyInTheSixtyFourBitViewIsNotInstalled) {
  const int32_t version = 9100 + kBuildBits;
  ScopedRegistryKey machine(kMachine, BorlandKey("Delphi", version), RegistryView::kSixtyFourBit);
  machine.SetString("", "RootDir", "C:\\SixtyFour");
  machine.SetString("", "Version", "64");
  const TComponentInstall install = TComponentInstall::Create("Delphi", version);
  EXPECT_EQ(install.RootFolder(), "");
  EXPECT_FALSE(install.Installed());
  EXPECT_EQ(install.VersionText(), "");
  EXPECT_EQ(install.PackageOutputFolder(), "Lib");
}

}  // namespace
}  // namespace host
