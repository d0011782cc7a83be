// Targets the process may not write to. Root passes every permission check, so when the tests run
// as root the pass runs in a forked child that has become the unprivileged user nobody.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/Stacker.h"
#include "host/files.h"
#include "tests/faults/fault_support.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_folder.h"

namespace {

using fault_testing::Bytes;
using fault_testing::ChildOutcome;
using fault_testing::EntryPlan;
using fault_testing::Report;
using Listing = std::map<std::string, std::string>;

class PermissionFaultTest : public testing_support::TempFolderTest {
 protected:
  PermissionFaultTest() {
    // The unprivileged child must be able to pass through the test folder.
    ::chmod(host::NativePath(temp_.path()).c_str(), 0755);
  }

  // A folder that only root may write to; as another user, one that this user may not write to.
  std::string MakeLockedFolder(const std::string& name) {
    const std::string folder = temp_.Sub(name);
    host::CreateFolderWithParents(folder);
    ::chmod(host::NativePath(folder).c_str(), fault_testing::RunningAsRoot() ? 0755 : 0555);
    return folder;
  }

  // One pass of `archive` into `target` as an unprivileged user; report["writable"] tells whether
  // `locked` could still be written to there.
  static ChildOutcome PassAsUnprivileged(const Bytes& archive, const std::string& target,
                                         const std::string& locked) {
    return fault_testing::RunInChild([&] {
      if (fault_testing::RunningAsRoot()) fault_testing::DropToNobody();
      testing_support::RecordingUi ui;
      fault_testing::UseMemoryArchive(archive);
      Report report;
      report["writable"] =
          ::access(host::NativePath(locked).c_str(), W_OK) == 0 ? "yes" : "no";
      report["steps"] = fault_testing::JoinLines(fault_testing::ExtractPass("", "C", target));
      report["messages"] = fault_testing::JoinLines(ui.Messages());
      return report;
    });
  }
};

TEST_F(PermissionFaultTest, TargetWithoutWritePermissionFailsWithThePlatformsText) {
  struct Case {
    const char* name;
    std::vector<EntryPlan> entries;
    std::string target;  // below the test folder
    std::vector<std::string> steps;
    std::string failing;  // below the test folder
    int error;
  };
  const Bytes data = fault_testing::PatternBytes(500, 3);
  const Case cases[] = {
      {"the target folder refuses new files",
       {{"C", true, {}}, {"C\\a.txt", false, data}},
       "locked",
       {"C: extracted", "C\\a.txt: failed"},
       "locked\\a.txt",
       EACCES},
      {"a folder entry cannot be made there: its file fails",
       {{"C", true, {}}, {"C\\sub", true, {}}, {"C\\sub\\b.txt", false, data}},
       "locked",
       {"C: extracted", "C\\sub: extracted", "C\\sub\\b.txt: failed"},
       "locked\\sub\\b.txt",
       ENOENT},
      {"the target folder itself cannot be made",
       {{"C", true, {}}, {"C\\a.txt", false, data}, {"C\\z.txt", false, data}},
       "locked\\new\\product",
       {"C: extracted", "C\\a.txt: failed"},
       "locked\\new\\product\\a.txt",
       ENOENT},
  };
  const std::string locked = MakeLockedFolder("locked");
  testing_support::WriteTextFile(temp_.Sub("sibling.txt"), "stays");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Listing before = fault_testing::Snapshot(temp_.path());

    const ChildOutcome outcome =
        PassAsUnprivileged(fault_testing::MakeArchive(c.entries), temp_.Sub(c.target), locked);

    ASSERT_TRUE(outcome.exited && outcome.exit_code == 0) << fault_testing::Describe(outcome);
    if (outcome.report.at("writable") == "yes") {
      GTEST_SKIP() << "this user can write to a folder without write permission";
    }
    EXPECT_EQ(fault_testing::SplitLines(outcome.report.at("steps")), c.steps);
    ASSERT_NO_FATAL_FAILURE(
        fault_testing::ExpectOneMessage(outcome, c.error, temp_.Sub(c.failing)));
    EXPECT_EQ(fault_testing::Snapshot(temp_.path()), before);
  }
}

// A read-only file that belongs to another user, in a folder everyone may write to: resetting its
// attributes is refused too, so the second creation fails as the first did and the file stays.
TEST_F(PermissionFaultTest, ReadOnlyFileOfAnotherUserStaysAndFailsTheEntry) {
  if (!fault_testing::RunningAsRoot()) {
    GTEST_SKIP() << "making a file that belongs to another user needs root";
  }
  const std::string target = temp_.Sub("shared");
  host::CreateFolderWithParents(target);
  ::chmod(host::NativePath(target).c_str(), 0777);
  const std::string existing = target + "\\a.txt";
  testing_support::WriteTextFile(existing, "from an earlier installation");
  ASSERT_TRUE(host::SetAttributes(existing, host::kAttributeReadOnly));
  const Listing before = fault_testing::Snapshot(temp_.path());

  const ChildOutcome outcome = PassAsUnprivileged(
      fault_testing::MakeArchive({{"C", true, {}},
                                  {"C\\a.txt", false, fault_testing::PatternBytes(500, 4)},
                                  {"C\\b.txt", false, fault_testing::PatternBytes(10, 5)}}),
      target, target);

  ASSERT_TRUE(outcome.exited && outcome.exit_code == 0) << fault_testing::Describe(outcome);
  EXPECT_EQ(fault_testing::SplitLines(outcome.report.at("steps")),
            (std::vector<std::string>{"C: extracted", "C\\a.txt: failed"}));
  ASSERT_NO_FATAL_FAILURE(fault_testing::ExpectOneMessage(outcome, EACCES, existing));
  EXPECT_EQ(fault_testing::Snapshot(temp_.path()), before);
  EXPECT_EQ(testing_support::ReadWholeFile(existing), "from an earlier installation");
  struct stat info {};
  ASSERT_EQ(::stat(host::NativePath(existing).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0222, 0u) << "the file lost its write protection";
}

}  // namespace
