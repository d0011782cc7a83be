// Shared pieces of the fault and hardening tests of Setup.exe under Wine: a workspace per case,
// installers built from trees written there, the window worked up to its reports, and pictures
// of folders on disk to compare before and after a run.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/driver_support.h"
#include "tests/e2e/package_fixture.h"
#include "tests/support/temp_folder.h"

namespace e2e {

inline constexpr char kUnpackedTo[] = "All files are unpacked to:\r";
inline constexpr char kFailureReport[] = "Error while unpacking files!";

// Paths that only these tests need, given on the command line.
struct FaultPaths {
  std::string planted_dll;  // a DLL that marks its own loading (planted_dll.cpp)
};
FaultPaths& ExtraPaths();

// One case's folders: the package tree, the installers, and the installer's temporary folder
// (its TMP and TEMP), so that cases never share a target folder.
struct Workspace {
  explicit Workspace(const std::string& root_folder);
  std::map<std::string, std::string> Environment() const;
  // The same, with the variables that tell `child` where to report.
  std::map<std::string, std::string> Environment(const ChildSignals& child) const;
  std::string root, tree, run, tmp;
};

// Every file and folder below a folder: relative path -> "<folder>" or the file's bytes.
using Listing = std::map<std::string, std::string>;
Listing ListTree(const std::string& folder);

// Every file below `source` is at the same place below `target` with the same bytes.
void ExpectSameFiles(const std::string& source, const std::string& target);

class InstallerFaultTest : public testing_support::TempFolderTest {
 protected:
  Workspace NewWorkspace();
  // setup-pack build with `options` from the workspace's tree into run\Setup.exe.
  std::string Build(const Workspace& workspace, const std::string& options);
  // Waits until the installer's window is up and its OK available.
  static HWND ReadyForm(InstallerRun& run);
  // Waits for the next message box, checks its title and text, and presses its OK.
  static void ExpectMessage(InstallerRun& run, const std::string& text);
  static bool Enabled(HWND window) { return window && IsWindowEnabled(window); }

 private:
  int cases_ = 0;
};

}  // namespace e2e
