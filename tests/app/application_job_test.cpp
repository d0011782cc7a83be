// The application-setup job, run end to end on its own thread against packages built in memory.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MainUnit.h"
#include "app/install_jobs.h"
#include "host/files.h"
#include "host/helpers.h"
#include "tests/app/job_fixture.h"
#include "tests/app/setup_child_protocol.h"

namespace fs = std::filesystem;
using testing_support::ReadWholeFile;
using testing_support::WriteTextFile;

namespace app_test {
namespace {

const std::string kSetupData = Filler(40'000, 3);

// Nothing read-only: on Windows DeleteTree leaves read-only files, and with them their folder.
std::vector<Entry> SetupEntries() {
  return {FileEntry("C\\library.txt", "not for the application"),
          FileEntry("P\\setup.ini", "[setup]\r\n"),
          FolderEntry("P\\data"),
          FileEntry("P\\data\\payload.bin", kSetupData, kArchive, kJanuary1999)};
}

const std::vector<std::string> kSetupTree = {"data/", "data/payload.bin", "setup.ini"};

std::vector<UiCall> ApplicationSuccessCalls(const std::string& target) {
  return {Busy(true), Busy(false), Message(kUnpackedTo + target + kQuillonWillStart), End()};
}

class ApplicationJobTest : public JobTest {
 protected:
  // The job's folder: "Quillon" below what the platform reports as the temporary folder.
  std::string QuillonFolder() const {
    return host::AddBackslash(*host::PlatformTempPath(256)) + "Quillon";
  }

  void RunJob() {
    StartJob(archive::JobKind::kApplicationSetup);
    ASSERT_TRUE(WaitForJobThread());
  }
};

TEST_F(ApplicationJobTest, UnpacksBelowTheTemporaryFolderAndEndsWithoutASetup) {
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    std::vector<std::string> tree;
  };
  const Case cases[] = {
      {"setup files", SetupEntries(), kSetupTree},
      {"no setup part", {FileEntry("C\\library.txt", "library only")}, {}},
      {"a folder named Setup.exe is no setup",
       {FolderEntry("P\\Setup.exe"), FileEntry("P\\Setup.exe\\inside.txt", "inside")},
       {"Setup.exe/", "Setup.exe/inside.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoadPackage(ManifestText("", ""), c.entries);

    RunJob();

    const std::string target = QuillonFolder();
    EXPECT_TRUE(SameFolder(host::AddBackslash(platform_temp()) + "Quillon", target));
    EXPECT_EQ(JobCalls(), ApplicationSuccessCalls(target));
    EXPECT_EQ(app::InstallTarget, target);
    EXPECT_EQ(app::TemporaryTarget, target);
    // Nothing was started, so nothing was waited for and the folder stays.
    EXPECT_TRUE(host::FolderExists(target));
    EXPECT_EQ(TreeOf(target), c.tree);
    EXPECT_EQ(CallbacksCalled(), 0);
  }
  std::vector<Entry> entries = SetupEntries();
  entries.push_back(FileEntry("P\\data\\locked.bin", "locked", kReadOnly | kArchive, kMay2003));
  LoadPackage(ManifestText("", ""), entries);
  RunJob();
  const std::string data = QuillonFolder() + "\\data\\";
  EXPECT_EQ(ReadWholeFile(data + "payload.bin"), kSetupData);
  EXPECT_FALSE(IsReadOnly(data + "payload.bin"));
  EXPECT_EQ(testing_support::LastWriteLocalDosTime(data + "payload.bin"), kJanuary1999);
  EXPECT_TRUE(IsReadOnly(data + "locked.bin"));
  EXPECT_EQ(testing_support::LastWriteLocalDosTime(data + "locked.bin"), kMay2003);
}

TEST_F(ApplicationJobTest, FolderIsClearedBeforeItIsFilled) {
  const std::string target = QuillonFolder();
  ASSERT_TRUE(host::CreateFolderWithParents(target + "\\old folder"));
  WriteTextFile(target + "\\old folder\\old.txt", "old");
  WriteTextFile(target + "\\.keep", "names beginning with a dot stay");
  WriteTextFile(target + "\\setup.ini", "an old read-only copy");
  fs::permissions(host::NativePath(target + "\\setup.ini"), fs::perms::all,
                  fs::perm_options::remove);
  LoadPackage(ManifestText("", ""), SetupEntries());

  RunJob();

  EXPECT_EQ(JobCalls(), ApplicationSuccessCalls(target));
  std::vector<std::string> expected = kSetupTree;
  expected.insert(expected.begin(), ".keep");
  EXPECT_EQ(TreeOf(target), expected);
  EXPECT_EQ(ReadWholeFile(target + "\\setup.ini"), "[setup]\r\n");
}

TEST_F(ApplicationJobTest, FailedEntryReportsTheFailureAndAnotherJobMayFollow) {
  LoadPackage(ManifestText("", ""),
              {FileEntry("P\\setup.ini", "[setup]"), FileEntry("P\\missing\\payload.bin", "x"),
               FileEntry("P\\after.txt", "never written")});

  RunJob();

  const std::vector<UiCall> calls = JobCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], Busy(true));
  EXPECT_EQ(calls[1].kind, UiCall::Kind::kMessage);
  EXPECT_FALSE(calls[1].text.empty());
  EXPECT_EQ(calls[2], Busy(false));
  EXPECT_EQ(calls[3], Message(kUnpackingFailed));
  EXPECT_EQ(TreeOf(QuillonFolder()), std::vector<std::string>{"setup.ini"});
  EXPECT_EQ(CallbacksCalled(), 1);
  EXPECT_TRUE(CallbackWasLastActOnJobThread());

  LoadPackage(ManifestText("", ""), SetupEntries());
  RunJob();
  EXPECT_EQ(JobCalls(), ApplicationSuccessCalls(QuillonFolder()));
  EXPECT_EQ(TreeOf(QuillonFolder()), kSetupTree);
  EXPECT_EQ(CallbacksCalled(), 1);
}

TEST_F(ApplicationJobTest, WaitsForTheSetupToEndBeforeRemovingTheFolder) {
  const std::string target = QuillonFolder();
  LoadPackage(ManifestText("", ""), SetupEntries());
  const std::string folder_before = host::GetCurrentFolder();
  ui_.HoldMessages(true);

  StartJob(archive::JobKind::kApplicationSetup);
  ASSERT_TRUE(ui_.WaitForCalls(UiCall::Kind::kMessage, 1));
  // The job looks for its setup only after the report was dismissed.
  PlaceChildSetup(target);
  ui_.HoldMessages(false);
  ui_.DismissMessage();
  ASSERT_TRUE(ui_.WaitForCalls(UiCall::Kind::kStatus, 1));
  ASSERT_TRUE(WaitForFile(target + "\\" + kStartedFile));

  // The child runs until released: the job waits, and the folder is still there.
  EXPECT_EQ(JobCalls(), (std::vector<UiCall>{Busy(true), Busy(false),
                                             Message(kUnpackedTo + target + kQuillonWillStart),
                                             Status(kWaitingForSetup)}));
  EXPECT_TRUE(host::FolderExists(target));
  EXPECT_FALSE(JobsEnded());
  EXPECT_TRUE(SameFolder(ReadWholeFile(target + "\\" + kStartedFile), target));
  EXPECT_EQ(host::GetCurrentFolder(), folder_before);

  WriteTextFile(target + "\\" + kReleaseFile, "");
  ASSERT_TRUE(WaitForJobThread());

  EXPECT_EQ(JobCalls(), (std::vector<UiCall>{Busy(true), Busy(false),
                                             Message(kUnpackedTo + target + kQuillonWillStart),
                                             Status(kWaitingForSetup), Status(kSetupFinished),
                                             End()}));
  EXPECT_FALSE(host::FolderExists(target)) << ::testing::PrintToString(TreeOf(target));
  EXPECT_FALSE(host::IsProcessRunning(app::SetupProcess));
  EXPECT_EQ(CallbacksCalled(), 0);

  // The next job starts with no setup process: with no setup of its own it neither waits nor
  // removes its folder.
  LoadPackage(ManifestText("", ""), SetupEntries());
  RunJob();
  EXPECT_EQ(JobCalls(), ApplicationSuccessCalls(target));
  EXPECT_FALSE(app::SetupProcess.has_value());
  EXPECT_EQ(TreeOf(target), kSetupTree);
}

// Without an answer from the platform the job takes the first fallback folder that exists. The
// fallbacks are drive paths: on POSIX they are relative, so the test makes one below its own
// folder and works from there; on Windows "c:\Windows\Temp" exists already.
TEST_F(ApplicationJobTest, FallsBackWhenThePlatformHasNoTemporaryFolder) {
  const std::string folder_before = host::GetCurrentFolder();
  host::SetCurrentFolder(temp_.path());
  ASSERT_TRUE(host::CreateFolderWithParents("c:\\Windows\\Temp"));
  const std::string target = "c:\\Windows\\Temp\\Quillon";
  {
    testing_support::ScopedTempEnvironment too_long(temp_.Sub(std::string(300, 'x')));
    ASSERT_FALSE(host::PlatformTempPath(256).has_value());
    LoadPackage(ManifestText("", ""), SetupEntries());

    RunJob();
  }
  EXPECT_EQ(JobCalls(), ApplicationSuccessCalls(target));
  EXPECT_EQ(TreeOf(target), kSetupTree);
  std::error_code ignored;
  fs::remove_all(host::NativePath(target), ignored);
  host::SetCurrentFolder(folder_before);
}

}  // namespace
}  // namespace app_test
