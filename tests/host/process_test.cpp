#include "host/process.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "host/files.h"
#include "tests/host/platform_probe.h"
#include "tests/host/test_child.h"
#include "tests/support/temp_folder.h"

namespace {

using host_test::IsWindows;
using testing_support::ReadWholeFile;
using testing_support::TempFolderTest;

std::string ChildProgram() {
  return host_test::OwnProgramFolder() + "\\" + HOST_TEST_CHILD_FILE_NAME;
}

// Each IsProcessRunning call itself waits for the end (up to 10 ms); the bound only keeps a child
// that never ends from hanging the run.
bool WaitUntilEnded(const std::optional<host::ProcessHandle>& process) {
  for (int calls = 0; calls < 6000; ++calls) {
    if (!host::IsProcessRunning(process)) return true;
  }
  return false;
}

using LaunchProgramTest = TempFolderTest;

TEST_F(LaunchProgramTest, RunsUntilItEndsAndStartsInTheCallersCurrentFolder) {
  const host_test::ScopedCurrentFolder current(temp_.path());
  host_test::ChildGate gate;
  const std::optional<host::ProcessHandle> child =
      host::LaunchProgram(ChildProgram(), gate.parameter());
  ASSERT_TRUE(child.has_value());
  EXPECT_TRUE(host::IsProcessRunning(child)) << "the child waits at its gate";
  EXPECT_TRUE(host::IsProcessRunning(child)) << "and keeps waiting";
  EXPECT_FALSE(host::FileExists(temp_.Sub(host_test::kChildMarkerFile)));
  gate.Open();
  ASSERT_TRUE(WaitUntilEnded(child));
  EXPECT_FALSE(host::IsProcessRunning(child)) << "an ended process stays ended";
  // The child wrote its marker into its own current folder: the caller's.
  EXPECT_EQ(ReadWholeFile(temp_.Sub(host_test::kChildMarkerFile)), host_test::kChildMarkerText);
}

TEST(IsProcessRunningTest, NoProcessIsNotRunning) {
  EXPECT_FALSE(host::IsProcessRunning(std::nullopt));
}

TEST_F(LaunchProgramTest, AProgramThatCannotStartGivesNone) {
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {
      {"no such program", temp_.Sub("no-such-program.exe")},
      {"no such folder", temp_.Sub("missing\\Setup.exe")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const host_test::ShellMessageCatcher catcher;
    EXPECT_FALSE(host::LaunchProgram(c.path, "").has_value());
    // The Windows shell reports the failure itself, in a message box of its own; POSIX shows
    // nothing.
    EXPECT_EQ(catcher.texts().size(), IsWindows() ? 1u : 0u);
    for (const std::string& text : catcher.texts()) EXPECT_FALSE(text.empty());
  }
}

}  // namespace
