// The library-package job, run end to end on its own thread against packages built in memory.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/MainUnit.h"
#include "app/install_jobs.h"
#include "archive/package_rules.h"
#include "host/files.h"
#include "host/helpers.h"
#include "host/process.h"
#include "tests/app/job_fixture.h"
#include "tests/app/setup_child_protocol.h"

namespace fs = std::filesystem;
using testing_support::ReadWholeFile;
using testing_support::WriteTextFile;

namespace app_test {
namespace {

using testing_support::ScopedRegistryKey;

const std::string kVersion = std::to_string(kIdeVersion);

std::string RootKey(const std::string& environment) {
  return "SOFTWARE\\Borland\\" + environment + "\\" + kVersion + ".0";
}

const std::string kUnitData = Filler(70'000, 7);

// Both parts, with a P entry that the library job must leave alone.
std::vector<Entry> LibraryEntries() {
  return {FolderEntry("C"),
          FileEntry("C\\readme.txt", "read me\r\n"),
          FolderEntry("C\\lib"),
          FileEntry("C\\lib\\unit.dcu", kUnitData, kReadOnly | kArchive, kJanuary1999),
          FileEntry("P\\other.txt", "not for the library"),
          FolderEntry("S\\source"),
          FileEntry("S\\source\\unit.pas", "unit Unit1;\r\n")};
}

const std::vector<std::string> kLibraryTree = {"lib/", "lib/unit.dcu", "readme.txt", "source/",
                                               "source/unit.pas"};

std::vector<UiCall> LibrarySuccessCalls(const std::string& target) {
  return {Busy(true), Busy(false), Busy(true), Busy(false), Message(kUnpackedTo + target), End()};
}

class LibraryJobTest : public JobTest {
 protected:
  // Runs the library job on the loaded package and waits for its thread to end.
  void RunJob() {
    StartJob(archive::JobKind::kLibraryPackage);
    ASSERT_TRUE(WaitForJobThread());
  }
};

TEST_F(LibraryJobTest, ProductFolderLandsBelowTheEnvironmentOrTheTemporaryFolder) {
  struct Case {
    const char* name;
    std::string ide_spec;
    std::string folder_name;
    const char* installed;  // the environment registered with a root folder
    bool below_root;        // else below the temporary folder
    std::string product;
  };
  const Case cases[] = {
      {"empty IDE spec", "", "", "Delphi", false, "Vexilor"},
      {"Delphi installed", "D" + kVersion, "Product", "Delphi", true, "Product"},
      {"C++Builder installed", "C" + kVersion, "Builder Product", "C++Builder", true,
       "Builder Product"},
      {"C++Builder asked, only Delphi installed", "C" + kVersion, "Orphan", "Delphi", false,
       "Orphan"},
      {"lower-case d is no environment", "d" + kVersion, "Lower", "Delphi", false, "Lower"},
      {"nested folder name", "D" + kVersion, "Vendor\\Product", "Delphi", true, "Vendor\\Product"},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string root = temp_.Sub("ide-" + std::to_string(row++));
    ASSERT_TRUE(host::CreateFolderWithParents(root));
    ScopedRegistryKey registered(host::RegistryRoot::kLocalMachine, RootKey(c.installed));
    registered.SetString("", "RootDir", root);
    LoadPackage(ManifestText(c.ide_spec, c.folder_name), LibraryEntries());

    RunJob();

    const std::string target =
        c.below_root ? root + "\\" + c.product : host::GetTempFolder() + c.product;
    if (!c.below_root) {
      EXPECT_TRUE(SameFolder(host::GetTempFolder(), platform_temp()));
    }
    EXPECT_EQ(JobCalls(), LibrarySuccessCalls(target));
    EXPECT_EQ(app::InstallTarget, target);
    EXPECT_EQ(TreeOf(target), kLibraryTree);
    EXPECT_EQ(ReadWholeFile(target + "\\lib\\unit.dcu"), kUnitData);
    EXPECT_EQ(ReadWholeFile(target + "\\source\\unit.pas"), "unit Unit1;\r\n");
    EXPECT_TRUE(IsReadOnly(target + "\\lib\\unit.dcu"));
    EXPECT_FALSE(IsReadOnly(target + "\\readme.txt"));
    EXPECT_EQ(testing_support::LastWriteLocalDosTime(target + "\\lib\\unit.dcu"), kJanuary1999);
    EXPECT_EQ(testing_support::LastWriteLocalDosTime(target + "\\readme.txt"), kMay2003);
    EXPECT_FALSE(app::SetupProcess.has_value());
    EXPECT_EQ(CallbacksCalled(), 0);
  }
}

TEST_F(LibraryJobTest, PackageWithoutSourcePartSucceedsWithTheFirstPart) {
  ScopedRegistryKey registered(host::RegistryRoot::kLocalMachine, RootKey("Delphi"));
  registered.SetString("", "RootDir", temp_.path());
  LoadPackage(ManifestText("D" + kVersion, "Product"),
              {FileEntry("C\\readme.txt", "read me"), FileEntry("c\\lower.txt", "lower")});

  RunJob();

  const std::string target = temp_.Sub("Product");
  EXPECT_EQ(JobCalls(), LibrarySuccessCalls(target));
  EXPECT_EQ(TreeOf(target), (std::vector<std::string>{"lower.txt", "readme.txt"}));
  EXPECT_EQ(CallbacksCalled(), 0);
}

TEST_F(LibraryJobTest, ProductFolderIsClearedBeforeItIsFilled) {
  ScopedRegistryKey registered(host::RegistryRoot::kLocalMachine, RootKey("Delphi"));
  registered.SetString("", "RootDir", temp_.Sub("ide"));
  const std::string target = temp_.Sub("ide\\Product");
  ASSERT_TRUE(host::CreateFolderWithParents(target + "\\old folder"));
  WriteTextFile(temp_.Sub("ide\\beside.txt"), "outside the product folder");
  WriteTextFile(target + "\\old.txt", "old");
  WriteTextFile(target + "\\old folder\\old.txt", "old");
  WriteTextFile(target + "\\.config", "names beginning with a dot stay");
  WriteTextFile(target + "\\readme.txt", "an old read-only copy");
  fs::permissions(host::NativePath(target + "\\readme.txt"), fs::perms::all,
                  fs::perm_options::remove);
  LoadPackage(ManifestText("D" + kVersion, "Product"), LibraryEntries());

  RunJob();

  EXPECT_EQ(JobCalls(), LibrarySuccessCalls(target));
  std::vector<std::string> expected = kLibraryTree;
  expected.insert(expected.begin(), ".config");
  EXPECT_EQ(TreeOf(target), expected);
  EXPECT_EQ(ReadWholeFile(target + "\\readme.txt"), "read me\r\n");
  EXPECT_FALSE(IsReadOnly(target + "\\readme.txt"));
  EXPECT_EQ(ReadWholeFile(temp_.Sub("ide\\beside.txt")), "outside the product folder");
}

TEST_F(LibraryJobTest, FailedEntryReportsTheFailureAndLeavesTheWindowOpen) {
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    std::vector<UiCall::Kind> call_kinds;  // the error's own message is the first message
    std::vector<std::string> tree;
  };
  using K = UiCall::Kind;
  const Case cases[] = {
      {"first part: file whose folder is missing",
       {FileEntry("C\\readme.txt", "read me"), FileEntry("C\\missing\\unit.dcu", "x"),
        FileEntry("C\\after.txt", "never written"), FileEntry("S\\unit.pas", "never written")},
       {K::kBusyCursor, K::kMessage, K::kBusyCursor, K::kMessage},
       {"readme.txt"}},
      {"second part: file where a folder is",
       {FileEntry("C\\readme.txt", "read me"), FolderEntry("S\\unit.pas"),
        FileEntry("S\\unit.pas", "cannot replace a folder")},
       {K::kBusyCursor, K::kBusyCursor, K::kBusyCursor, K::kMessage, K::kBusyCursor, K::kMessage},
       {"readme.txt", "unit.pas/"}},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string root = temp_.Sub("ide-" + std::to_string(row++));
    ScopedRegistryKey registered(host::RegistryRoot::kLocalMachine, RootKey("Delphi"));
    registered.SetString("", "RootDir", root);
    LoadPackage(ManifestText("D" + kVersion, "Product"), c.entries);
    const int callbacks_before = CallbacksCalled();

    RunJob();

    const std::vector<UiCall> calls = JobCalls();
    std::vector<K> kinds;
    for (const UiCall& call : calls) kinds.push_back(call.kind);
    EXPECT_EQ(kinds, c.call_kinds);
    const std::vector<std::string> messages = JobMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_FALSE(messages[0].empty());
    EXPECT_EQ(messages[1], kUnpackingFailed);
    EXPECT_EQ(TreeOf(root + "\\Product"), c.tree);
    EXPECT_EQ(CallbacksCalled(), callbacks_before + 1);
    EXPECT_TRUE(CallbackWasLastActOnJobThread());
  }
}

TEST_F(LibraryJobTest, NonDigitVersionEndsTheThreadBeforeAnythingIsDeleted) {
  const std::string kept = host::AddBackslash(platform_temp()) + "Product\\old.txt";
  ASSERT_TRUE(host::CreateFolderWithParents(host::AddBackslash(platform_temp()) + "Product"));
  WriteTextFile(kept, "old");
  for (const char* ide_spec : {"DX", "C+", "D 7"}) {
    SCOPED_TRACE(ide_spec);
    LoadPackage(ManifestText(ide_spec, "Product"), LibraryEntries());
    const int callbacks_before = CallbacksCalled();

    RunJob();

    EXPECT_EQ(JobCalls(), std::vector<UiCall>{});
    EXPECT_EQ(ReadWholeFile(kept), "old");
    EXPECT_EQ(TreeOf(host::AddBackslash(platform_temp()) + "Product"),
              std::vector<std::string>{"old.txt"});
    EXPECT_EQ(CallbacksCalled(), callbacks_before + 1);
    EXPECT_TRUE(CallbackWasLastActOnJobThread());
  }
}

TEST_F(LibraryJobTest, FolderNameLeavingTheRootFailsBeforeAnythingIsDeleted) {
  const std::string root = temp_.Sub("ide");
  ASSERT_TRUE(host::CreateFolderWithParents(root + "\\x"));
  WriteTextFile(root + "\\root.txt", "root");
  WriteTextFile(root + "\\x\\inner.txt", "inner");
  WriteTextFile(temp_.Sub("outside.txt"), "outside");
  ScopedRegistryKey registered(host::RegistryRoot::kLocalMachine, RootKey("Delphi"));
  registered.SetString("", "RootDir", root);
  for (const char* name : {".", "..", "x\\..", "x\\..\\..", "x/../..", "\\x", "/x", "c:\\x",
                           "x:", "x\\\\y", "x\\", "x\\ . \\y", "..."}) {
    SCOPED_TRACE(name);
    LoadPackage(ManifestText("D" + kVersion, name), LibraryEntries());
    const int callbacks_before = CallbacksCalled();

    RunJob();

    EXPECT_EQ(JobCalls(), std::vector<UiCall>{Message(kUnpackingFailed)});
    EXPECT_EQ(TreeOf(root), (std::vector<std::string>{"root.txt", "x/", "x/inner.txt"}));
    EXPECT_EQ(ReadWholeFile(temp_.Sub("outside.txt")), "outside");
    EXPECT_EQ(CallbacksCalled(), callbacks_before + 1);
    EXPECT_TRUE(CallbackWasLastActOnJobThread());
  }
}

TEST_F(LibraryJobTest, StartsTheExtractedSetupInTheTargetWithoutWaiting) {
  ScopedRegistryKey registered(host::RegistryRoot::kLocalMachine, RootKey("Delphi"));
  registered.SetString("", "RootDir", temp_.Sub("ide"));
  const std::string target = temp_.Sub("ide\\Product");
  LoadPackage(ManifestText("D" + kVersion, "Product"), LibraryEntries());
  const std::string folder_before = host::GetCurrentFolder();
  ui_.HoldMessages(true);

  StartJob(archive::JobKind::kLibraryPackage);
  ASSERT_TRUE(ui_.WaitForCalls(UiCall::Kind::kMessage, 1));
  // The job looks for its setup only after the report was dismissed.
  PlaceChildSetup(target);
  ui_.HoldMessages(false);
  ui_.DismissMessage();
  ASSERT_TRUE(WaitForJobThread());

  // The job has ended the program while its setup still runs: the child ends only after it is
  // released below.
  EXPECT_EQ(JobCalls(), LibrarySuccessCalls(target));
  EXPECT_EQ(CallbacksCalled(), 0);
  ASSERT_TRUE(app::SetupProcess.has_value());
  ASSERT_TRUE(WaitForFile(target + "\\" + kStartedFile));
  EXPECT_TRUE(host::IsProcessRunning(app::SetupProcess));
  EXPECT_TRUE(SameFolder(ReadWholeFile(target + "\\" + kStartedFile), target));
  EXPECT_EQ(host::GetCurrentFolder(), folder_before);

  WriteTextFile(target + "\\" + kReleaseFile, "");
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (host::IsProcessRunning(app::SetupProcess) && std::chrono::steady_clock::now() < give_up) {
  }
  EXPECT_FALSE(host::IsProcessRunning(app::SetupProcess));
  EXPECT_TRUE(RemoveFolderOnceReleased(target));
}

TEST(FolderNameTest, OnlyPlainRelativeNamesPass) {
  struct Case {
    const char* name;
    bool plain;
  };
  const Case cases[] = {
      {"Vexilor", true},   {"Vendor\\Product", true}, {"Vendor/Product", true},
      {"a.b", true},       {"..a", true},             {"My Library 2", true},
      {"", false},         {".", false},              {"..", false},
      {"...", false},      {" ", false},              {" . ", false},
      {"x\\..", false},    {"x\\..\\..", false},      {"x/../..", false},
      {"\\x", false},      {"/x", false},             {"\\\\server\\share", false},
      {"c:\\x", false},    {"c:x", false},            {"x:", false},
      {"x\\y:z", false},   {"x\\\\y", false},         {"x//y", false},
      {"x\\", false},      {"x\\ . \\y", false},      {"x\\\t\\y", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(archive::IsPlainRelativeFolderName(c.name), c.plain);
  }
}

}  // namespace
}  // namespace app_test
