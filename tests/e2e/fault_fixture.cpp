#include "tests/e2e/fault_fixture.h"

#include <gtest/gtest.h>

#include "app/installer_form_controls.h"

namespace e2e {
namespace {

void AddToListing(const std::string& folder, const std::string& prefix, Listing& listing) {
  for (const std::string& name : FolderContents(folder)) {
    const std::string path = folder + "\\" + name;
    const std::string relative = prefix.empty() ? name : prefix + "\\" + name;
    if (FolderExists(path)) {
      listing[relative] = "<folder>";
      AddToListing(path, relative, listing);
    } else {
      listing[relative] = ReadFileBytes(path);
    }
  }
}

}  // namespace

FaultPaths& ExtraPaths() {
  static FaultPaths paths;
  return paths;
}

Workspace::Workspace(const std::string& root_folder)
    : root(root_folder), tree(root + "\\tree"), run(root + "\\run"), tmp(root + "\\tmp") {
  for (const std::string* folder : {&root, &run, &tmp}) {
    CreateDirectoryA(folder->c_str(), nullptr);
  }
}

std::map<std::string, std::string> Workspace::Environment() const {
  return {{"TMP", tmp}, {"TEMP", tmp}};
}

std::map<std::string, std::string> Workspace::Environment(const ChildSignals& child) const {
  std::map<std::string, std::string> variables = child.Environment();
  for (const auto& [name, value] : Environment()) variables[name] = value;
  return variables;
}

Listing ListTree(const std::string& folder) {
  Listing listing;
  AddToListing(folder, "", listing);
  return listing;
}

void ExpectSameFiles(const std::string& source, const std::string& target) {
  for (const auto& [path, contents] : ListTree(source)) {
    SCOPED_TRACE(path);
    const std::string placed = target + "\\" + path;
    if (contents == "<folder>") {
      EXPECT_TRUE(FolderExists(placed));
    } else {
      ASSERT_TRUE(FileExists(placed));
      EXPECT_EQ(ReadFileBytes(placed), contents);
    }
  }
}

Workspace InstallerFaultTest::NewWorkspace() {
  return Workspace(temp_.Sub("case" + std::to_string(cases_++)));
}

std::string InstallerFaultTest::Build(const Workspace& workspace, const std::string& options) {
  const std::string installer = workspace.run + "\\Setup.exe";
  const std::string failure =
      RunPackTool("build " + options + " " + Quote(Paths().setup_template) + " " +
                  Quote(workspace.tree) + " " + Quote(installer));
  EXPECT_EQ(failure, "");
  return failure.empty() ? installer : std::string();
}

HWND InstallerFaultTest::ReadyForm(InstallerRun& run) {
  HWND form = run.WaitForForm();
  EXPECT_NE(form, nullptr) << "no window; exit code "
                           << run.WaitForExit(std::chrono::milliseconds(0)).value_or(0xFFFFFFFF);
  if (!form) return nullptr;
  const bool ready = WaitFor([&] { return Enabled(run.Control(app::kOkButtonId)); }, run.process());
  EXPECT_TRUE(ready) << "OK stays unavailable";
  return ready ? form : nullptr;
}

void InstallerFaultTest::ExpectMessage(InstallerRun& run, const std::string& text) {
  const std::optional<SeenMessageBox> box = run.WaitForMessageBox();
  ASSERT_TRUE(box.has_value()) << "no message box: " << text;
  EXPECT_EQ(box->title, "Setup");
  EXPECT_EQ(box->text, text);
  ASSERT_TRUE(run.Click(GetDlgItem(box->handle, IDOK)));
}

}  // namespace e2e
