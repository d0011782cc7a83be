// The IDE lookup over the registry stand-in: every field of the object for each kind of
// environment, installed or not.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/LibraryInstall.h"
#include "host/registry.h"

namespace host {
namespace {

constexpr RegistryRoot kMachine = RegistryRoot::kLocalMachine;
constexpr RegistryRoot kUser = RegistryRoot::kCurrentUser;

struct StoredValue {
  RegistryRoot root;
  std::string key;
  std::string name;
  std::string text;  // stored as Windows stores a string, with its closing NUL
};

struct Expected {
  std::string key_path;
  std::string root_folder;
  std::string package_output_folder;
  std::string version_text;
  bool is_delphi;
  bool installed;
  std::string path_macro;
};

struct Case {
  std::string name;
  std::string environment;
  int32_t version;
  std::vector<StoredValue> registry;
  Expected expected;
};

const std::string kDelphi7 = "SOFTWARE\\Borland\\Delphi\\7.0";
const std::string kBuilder3 = "SOFTWARE\\Borland\\C++Builder\\3.0";
const std::string kBuilder5 = "SOFTWARE\\Borland\\C++Builder\\5.0";

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"Delphi 7 installed, with a package output folder",
       "Delphi",
       7,
       {{kMachine, kDelphi7, "RootDir", "C:\\Program Files\\Borland\\Delphi7"},
        {kMachine, kDelphi7, "Version", "7.0 Enterprise"},
        {kMachine, kDelphi7, "SKU", "not read"},
        {kUser, kDelphi7 + "\\Library", "Package DPL Output", "$(DELPHI)\\Projects\\Bpl"}},
       {kDelphi7, "C:\\Program Files\\Borland\\Delphi7", "$(DELPHI)\\Projects\\Bpl",
        "7.0 Enterprise", true, true, "$(DELPHI)"}},
      {"C++Builder 3 takes its edition from SKU and has no macro",
       "C++Builder",
       3,
       {{kMachine, kBuilder3, "RootDir", "C:\\CBuilder3"},
        {kMachine, kBuilder3, "Version", "not read"},
        {kMachine, kBuilder3, "SKU", "Professional"}},
       {kBuilder3, "C:\\CBuilder3", "C:\\CBuilder3\\Lib", "Professional", false, true, ""}},
      {"C++Builder 5 takes Version and the BCB macro",
       "C++Builder",
       5,
       {{kMachine, kBuilder5, "RootDir", "C:\\CBuilder5"},
        {kMachine, kBuilder5, "Version", "5.0"},
        {kMachine, kBuilder5, "SKU", "not read"}},
       {kBuilder5, "C:\\CBuilder5", "C:\\CBuilder5\\Lib", "5.0", false, true, "$(BCB)"}},
      {"Delphi 3 takes Version but has no macro",
       "Delphi",
       3,
       {{kMachine, "SOFTWARE\\Borland\\Delphi\\3.0", "RootDir", "C:\\Delphi3"},
        {kMachine, "SOFTWARE\\Borland\\Delphi\\3.0", "Version", "3.0"},
        {kMachine, "SOFTWARE\\Borland\\Delphi\\3.0", "SKU", "not read"}},
       {"SOFTWARE\\Borland\\Delphi\\3.0", "C:\\Delphi3", "C:\\Delphi3\\Lib", "3.0", true, true,
        ""}},
      {"lower-case delphi is still Delphi",
       "delphi",
       7,
       {{kMachine, kDelphi7, "RootDir", "C:\\D7"}, {kMachine, kDelphi7, "Version", "7.0"}},
       {"SOFTWARE\\Borland\\delphi\\7.0", "C:\\D7", "C:\\D7\\Lib", "7.0", true, true,
        "$(DELPHI)"}},
      {"no package output value: root folder plus Lib",
       "Delphi",
       7,
       {{kMachine, kDelphi7, "RootDir", "C:\\Tools\\IDE"}},
       {kDelphi7, "C:\\Tools\\IDE", "C:\\Tools\\IDE\\Lib", "", true, true, "$(DELPHI)"}},
      {"root folder ending in a backslash gets no second one",
       "Delphi",
       7,
       {{kMachine, kDelphi7, "RootDir", "C:\\Tools\\IDE\\"}},
       {kDelphi7, "C:\\Tools\\IDE\\", "C:\\Tools\\IDE\\Lib", "", true, true, "$(DELPHI)"}},
      {"empty environment name",
       "",
       7,
       {{kMachine, kDelphi7, "RootDir", "C:\\D7"}},
       {"SOFTWARE\\Borland\\\\7.0", "", "Lib", "", false, false, "$(BCB)"}},
      {"environment not installed",
       "Delphi",
       9,
       {{kMachine, kDelphi7, "RootDir", "C:\\D7"}},
       {"SOFTWARE\\Borland\\Delphi\\9.0", "", "Lib", "", true, false, "$(DELPHI)"}},
      {"values under the other root are not read",
       "Delphi",
       7,
       {{kUser, kDelphi7, "RootDir", "C:\\User"},
        {kUser, kDelphi7, "Version", "user"},
        {kMachine, kDelphi7 + "\\Library", "Package DPL Output", "C:\\Machine"}},
       {kDelphi7, "", "Lib", "", true, false, "$(DELPHI)"}},
      {"two-digit version",
       "C++Builder",
       10,
       {{kMachine, "SOFTWARE\\Borland\\C++Builder\\10.0", "RootDir", "C:\\CB10"}},
       {"SOFTWARE\\Borland\\C++Builder\\10.0", "C:\\CB10", "C:\\CB10\\Lib", "", false, true,
        "$(BCB)"}},
  };
  return cases;
}

class LibraryInstallTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_registry::Clear(); }
  void TearDown() override { fake_registry::Clear(); }
};

TEST_F(LibraryInstallTest, CreateFillsEveryField) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    fake_registry::Clear();
    for (const StoredValue& value : c.registry) {
      fake_registry::SetValue(value.root, value.key, value.name, value.text + '\0');
    }
    const TComponentInstall install = TComponentInstall::Create(c.environment, c.version);
    EXPECT_EQ(install.KeyPath(), c.expected.key_path);
    EXPECT_EQ(install.RootFolder(), c.expected.root_folder);
    EXPECT_EQ(install.PackageOutputFolder(), c.expected.package_output_folder);
    EXPECT_EQ(install.VersionText(), c.expected.version_text);
    EXPECT_EQ(install.IsDelphi(), c.expected.is_delphi);
    EXPECT_EQ(install.EnvironmentName(), c.environment);
    EXPECT_EQ(install.VersionNumber(), c.version);
    EXPECT_EQ(install.Installed(), c.expected.installed);
    EXPECT_EQ(install.PathMacro(), c.expected.path_macro);
  }
}

TEST_F(LibraryInstallTest, ReadingsHappenAtCreation) {
  fake_registry::SetValue(kMachine, kDelphi7, "RootDir", std::string("C:\\Before") + '\0');
  const TComponentInstall install = TComponentInstall::Create("Delphi", 7);
  fake_registry::SetValue(kMachine, kDelphi7, "RootDir", std::string("C:\\After") + '\0');
  EXPECT_EQ(install.RootFolder(), "C:\\Before");
  EXPECT_EQ(TComponentInstall::Create("Delphi", 7).RootFolder(), "C:\\After");
}

}  // namespace
}  // namespace host
