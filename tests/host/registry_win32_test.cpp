// The registry layer and the IDE lookup over the real registry (the Wine prefix's under Wine).
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
#include "tests/host/test_registry_keys_win32.h"

namespace host {
namespace {

using testing_support::RegistryView;
using testing_support::ScopedRegistryKey;

constexpr RegistryRoot kMachine = RegistryRoot::kLocalMachine;
constexpr RegistryRoot kUser = RegistryRoot::kCurrentUser;
constexpr int32_t kBuildBits = static_cast<int32_t>(sizeof(void*) * 8);  // 32 or 64

std::string TestKeyPath(const std::string& leaf) {
  return "SOFTWARE\\SetupRegistryTest" + std::to_string(kBuildBits) + leaf;
}

std::string DwordBytes(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

TEST(RegistryWin32Test, ReadsEveryValueTypeAsItsBytes) {
  ScopedRegistryKey key(kMachine, RegistryView::kThirtyTwoBit, TestKeyPath("Types"));
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
  ScopedRegistryKey key(kMachine, RegistryView::kThirtyTwoBit, TestKeyPath("Missing"));
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
  ScopedRegistryKey only64(kMachine, RegistryView::kSixtyFourBit, path);
  ScopedRegistryKey only32(kMachine, RegistryView::kThirtyTwoBit, path);
  only64.SetString("", "RootDir", "sixty-four");
  only32.SetString("", "Version", "thirty-two");
  only64.SetString("Only64", "RootDir", "sixty-four");
  const TComponentInstall install = TComponentInstall::Create("Delphi", 7);
  EXPECT_EQ(install.ReadRegistryString(kMachine, path, "Version"), "thirty-two");
  EXPECT_EQ(install.ReadRegistryString(kMachine, path, "RootDir"), "");
  EXPECT_EQ(install.ReadRegistryString(kMachine, path + "\\Only64", "RootDir"), "");
}

struct StoredString {
  RegistryRoot root;
  std::string subkey;  // below the version key
  std::string name;
  std::string text;
};

struct LookupCase {
  std::string name;
  std::string environment;
  std::string written_as;  // the environment name in the keys written
  int32_t version;
  std::vector<StoredString> registry;
  std::string root_folder;
  std::string package_output_folder;
  std::string version_text;
  bool is_delphi;
  std::string path_macro;
};

std::string BorlandKey(const std::string& environment, int32_t version) {
  return "SOFTWARE\\Borland\\" + environment + "\\" + std::to_string(version) + ".0";
}

TEST(LibraryInstallWin32Test, CreateReadsTheThirtyTwoBitView) {
  // Numbers above 3 and at most 3 that no real environment or other test uses.
  const int32_t above = 9000 + kBuildBits;
  const int32_t at_most_3 = -9000 - kBuildBits;
  const std::vector<LookupCase> cases = {
      {"Delphi with every value",
       "Delphi",
       "Delphi",
       above,
       {{kMachine, "", "RootDir", "C:\\Borland\\Delphi"},
        {kMachine, "", "Version", "7.0 Enterprise"},
        {kMachine, "", "SKU", "not read"},
        {kUser, "Library", "Package DPL Output", "$(DELPHI)\\Projects\\Bpl"}},
       "C:\\Borland\\Delphi",
       "$(DELPHI)\\Projects\\Bpl",
       "7.0 Enterprise",
       true,
       "$(DELPHI)"},
      {"C++Builder at most 3 takes SKU",
       "C++Builder",
       "C++Builder",
       at_most_3,
       {{kMachine, "", "RootDir", "C:\\CBuilder"},
        {kMachine, "", "Version", "not read"},
        {kMachine, "", "SKU", "Professional"}},
       "C:\\CBuilder",
       "C:\\CBuilder\\Lib",
       "Professional",
       false,
       ""},
      {"C++Builder above 3 takes Version",
       "C++Builder",
       "C++Builder",
       above,
       {{kMachine, "", "RootDir", "C:\\CBuilder"},
        {kMachine, "", "Version", "5.0"},
        {kMachine, "", "SKU", "not read"}},
       "C:\\CBuilder",
       "C:\\CBuilder\\Lib",
       "5.0",
       false,
       "$(BCB)"},
      {"lower-case delphi finds the keys of Delphi",
       "delphi",
       "Delphi",
       above + 1,
       {{kMachine, "", "RootDir", "C:\\Tools\\IDE"}},
       "C:\\Tools\\IDE",
       "C:\\Tools\\IDE\\Lib",
       "",
       true,
       "$(DELPHI)"},
      {"not installed",
       "Delphi",
       "Delphi",
       above + 2,
       {},
       "",
       "Lib",
       "",
       true,
       "$(DELPHI)"},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string key_path = BorlandKey(c.written_as, c.version);
    ScopedRegistryKey machine(kMachine, RegistryView::kThirtyTwoBit, key_path);
    ScopedRegistryKey user(kUser, RegistryView::kThirtyTwoBit, key_path);
    for (const StoredString& value : c.registry) {
      (value.root == kMachine ? machine : user).SetString(value.subkey, value.name, value.text);
    }
    const TComponentInstall install = TComponentInstall::Create(c.environment, c.version);
    EXPECT_EQ(install.KeyPath(), BorlandKey(c.environment, c.version));
    EXPECT_EQ(install.RootFolder(), c.root_folder);
    EXPECT_EQ(install.PackageOutputFolder(), c.package_output_folder);
    EXPECT_EQ(install.VersionText(), c.version_text);
    EXPECT_EQ(install.IsDelphi(), c.is_delphi);
    EXPECT_EQ(install.EnvironmentName(), c.environment);
    EXPECT_EQ(install.VersionNumber(), c.version);
    EXPECT_EQ(install.Installed(), !c.root_folder.empty());
    EXPECT_EQ(install.PathMacro(), c.path_macro);
  }
}

TEST(LibraryInstallWin32Test, EnvironmentOnlyInTheSixtyFourBitViewIsNotInstalled) {
  const int32_t version = 9100 + kBuildBits;
  ScopedRegistryKey machine(kMachine, RegistryView::kSixtyFourBit, BorlandKey("Delphi", version));
  machine.SetString("", "RootDir", "C:\\SixtyFour");
  machine.SetString("", "Version", "64");
  const TComponentInstall install = TComponentInstall::Create("Delphi", version);
  EXPECT_EQ(install.RootFolder(), "");
  EXPECT_FALSE(install.Installed());
  EXPECT_EQ(install.VersionText(), "");
  EXPECT_EQ(install.PackageOutputFolder(), "Lib");
}

TEST(LibraryInstallWin32Test, EmptyEnvironmentNameFindsNothing) {
  const int32_t version = 9200 + kBuildBits;
  const TComponentInstall install = TComponentInstall::Create("", version);
  EXPECT_EQ(install.KeyPath(), "SOFTWARE\\Borland\\\\" + std::to_string(version) + ".0");
  EXPECT_EQ(install.RootFolder(), "");
  EXPECT_FALSE(install.Installed());
  EXPECT_FALSE(install.IsDelphi());
  EXPECT_EQ(install.VersionText(), "");
  EXPECT_EQ(install.PackageOutputFolder(), "Lib");
  EXPECT_EQ(install.PathMacro(), "$(BCB)");
}

}  // namespace
}  // namespace host
