// The IDE lookup: every field of the object for each kind of environment, installed or not, read
// from the registry where the installer reads it (Windows: the real registry's 32-bit view, the
// Wine prefix's under Wine; POSIX: the in-process stand-in). One table for both.
//
// Other test programs may run at the same time in the same registry, and both Windows builds of
// this one may: every key written here carries a version number that depends on the build and
// that no real environment or other test uses.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/LibraryInstall.h"
#include "host/registry.h"
#include "tests/support/platform_support.h"

namespace host {
namespace {

using testing_support::BorlandKey;
using testing_support::kBuildBits;
using testing_support::kMachine;
using testing_support::kUser;
using testing_support::ScopedRegistryKey;

// Versions above 3 and at most 3 that no real environment or other test uses.
constexpr int32_t kAbove3 = 9000 + kBuildBits;
constexpr int32_t kAtMost3 = -9000 - kBuildBits;

struct RegistryString {
  RegistryRoot root;
  std::string subkey;  // below the version key
  std::string name;
  std::string text;
};

struct Case {
  std::string name;
  std::string environment;
  std::string written_as;  // the environment name in the keys written
  int32_t version;
  std::vector<RegistryString> registry;
  std::string root_folder;
  std::string package_output_folder;
  std::string version_text;
  bool is_delphi;
  std::string path_macro;
};

TEST(LibraryInstallTest, CreateFillsEveryField) {
  const std::vector<Case> cases = {
      {"Delphi with every value",
       "Delphi",
       "Delphi",
       kAbove3,
       {{kMachine, "", "RootDir", "C:\\Program Files\\Borland\\Delphi7"},
        {kMachine, "", "Version", "7.0 Enterprise"},
        {kMachine, "", "SKU", "not read"},
        {kUser, "Library", "Package DPL Output", "$(DELPHI)\\Projects\\Bpl"}},
       "C:\\Program Files\\Borland\\Delphi7",
       "$(DELPHI)\\Projects\\Bpl",
       "7.0 Enterprise",
       true,
       "$(DELPHI)"},
      {"C++Builder at most 3 takes its edition from SKU and has no macro",
       "C++Builder",
       "C++Builder",
       kAtMost3,
       {{kMachine, "", "RootDir", "C:\\CBuilder3"},
        {kMachine, "", "Version", "not read"},
        {kMachine, "", "SKU", "Professional"}},
       "C:\\CBuilder3",
       "C:\\CBuilder3\\Lib",
       "Professional",
       false,
       ""},
      {"C++Builder above 3 takes Version and the BCB macro",
       "C++Builder",
       "C++Builder",
       kAbove3,
       {{kMachine, "", "RootDir", "C:\\CBuilder5"},
        {kMachine, "", "Version", "5.0"},
        {kMachine, "", "SKU", "not read"}},
       "C:\\CBuilder5",
       "C:\\CBuilder5\\Lib",
       "5.0",
       false,
       "$(BCB)"},
      {"Delphi at most 3 takes Version but has no macro",
       "Delphi",
       "Delphi",
       kAtMost3,
       {{kMachine, "", "RootDir", "C:\\Delphi3"},
        {kMachine, "", "Version", "3.0"},
        {kMachine, "", "SKU", "not read"}},
       "C:\\Delphi3",
       "C:\\Delphi3\\Lib",
       "3.0",
       true,
       ""},
      {"lower-case delphi finds the keys of Delphi",
       "delphi",
       "Delphi",
       kAbove3,
       {{kMachine, "", "RootDir", "C:\\D7"}, {kMachine, "", "Version", "7.0"}},
       "C:\\D7",
       "C:\\D7\\Lib",
       "7.0",
       true,
       "$(DELPHI)"},
      {"no package output value: root folder plus Lib",
       "Delphi",
       "Delphi",
       kAbove3,
       {{kMachine, "", "RootDir", "C:\\Tools\\IDE"}},
       "C:\\Tools\\IDE",
       "C:\\Tools\\IDE\\Lib",
       "",
       true,
       "$(DELPHI)"},
      {"root folder ending in a backslash gets no second one",
       "Delphi",
       "Delphi",
       kAbove3,
       {{kMachine, "", "RootDir", "C:\\Tools\\IDE\\"}},
       "C:\\Tools\\IDE\\",
       "C:\\Tools\\IDE\\Lib",
       "",
       true,
       "$(DELPHI)"},
      {"empty environment name", "", "Delphi", kAbove3, {{kMachine, "", "RootDir", "C:\\D7"}},
       "", "Lib", "", false, "$(BCB)"},
      {"environment not installed", "Delphi", "Delphi", kAbove3, {}, "", "Lib", "", true,
       "$(DELPHI)"},
      {"values under the other root are not read",
       "Delphi",
       "Delphi",
       kAbove3,
       {{kUser, "", "RootDir", "C:\\User"},
        {kUser, "", "Version", "user"},
        {kMachine, "Library", "Package DPL Output", "C:\\Machine"}},
       "",
       "Lib",
       "",
       true,
       "$(DELPHI)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string key_path = BorlandKey(c.written_as, c.version);
    ScopedRegistryKey machine(kMachine, key_path);
    ScopedRegistryKey user(kUser, key_path);
    for (const RegistryString& value : c.registry) {
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

TEST(LibraryInstallTest, ReadingsHappenAtCreation) {
  const int32_t version = kAbove3 + 1;
  ScopedRegistryKey machine(kMachine, BorlandKey("Delphi", version));
  machine.SetString("", "RootDir", "C:\\Before");
  const TComponentInstall install = TComponentInstall::Create("Delphi", version);
  machine.SetString("", "RootDir", "C:\\After");
  EXPECT_EQ(install.RootFolder(), "C:\\Before");
  EXPECT_EQ(TComponentInstall::Create("Delphi", version).RootFolder(), "C:\\After");
}

}  // namespace
}  // namespace host
