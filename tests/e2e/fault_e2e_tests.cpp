// Faults met by Setup.exe under Wine: a destination folder it may not write, links in a folder it
// clears that lead out of it, and Cancel in the middle of a large extraction.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/installer_form_controls.h"
#include "tests/e2e/fault_fixture.h"
#include "tests/e2e/unix_command.h"

// After the door header: the lean Windows headers leave the tool-help API out.
#include <tlhelp32.h>

namespace e2e {
namespace {

constexpr char kProductFolder[] = "Vexilor Test";

SYSTEMTIME Stamp() { return LocalTime(2021, 6, 7, 8, 9, 10); }

// A library package without an environment in its manifest: its product folder lands below the
// temporary folder, so no registry entry is needed. The first file of the C part lies directly
// in the product folder, so that a folder that refuses new files fails that very file.
std::vector<TreeItem> LibraryTree() {
  return {
      File("id.txt", ManifestLine('D', kProductFolder), Stamp()),
      Folder("C"),
      File("C\\readme.txt", "Vexilor components\r\n", Stamp()),
      Folder("C\\units"),
      File("C\\units\\core.dcu", PatternBytes(70'001, 1), Stamp()),
      Folder("S"),
      File("S\\guide.txt", "Start the IDE.\r\n", Stamp()),
  };
}

std::vector<TreeItem> ApplicationTree() {
  return {
      Folder("P"),
      File("P\\readme.txt", "Quillon\r\n", Stamp()),
      File("P\\Setup.exe", ReadFileBytes(Paths().fake_setup), Stamp()),
  };
}

// The error the platform gives a program that creates a new file in `folder`; 0 when it may.
DWORD CreationError(const std::string& folder) {
  const std::string probe = folder + "\\probe.tmp";
  HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  DeleteFileA(probe.c_str());
  return 0;
}

bool RunsOnUnixSide(const std::string& script) {
  const std::optional<int> status = RunUnixShell(script);
  return status == 0;
}

// ---------------------------------------------------------------------------------------------
// A destination folder that is read-only, in the ways a folder can be made so under Wine.

struct Protection {
  const char* name;
  std::function<bool(const std::string& folder)> apply;  // false when the system refuses
  std::function<void(const std::string& folder)> undo;
};

class ProtectedFolderGuard {
 public:
  ProtectedFolderGuard(const Protection& protection, std::string folder)
      : protection_(protection), folder_(std::move(folder)) {}
  ~ProtectedFolderGuard() { Undo(); }
  ProtectedFolderGuard(const ProtectedFolderGuard&) = delete;
  ProtectedFolderGuard& operator=(const ProtectedFolderGuard&) = delete;
  void Undo() {
    if (undone_) return;
    undone_ = true;
    protection_.undo(folder_);
  }

 private:
  const Protection& protection_;
  std::string folder_;
  bool undone_ = false;
};

class ProtectedDestinationTest : public InstallerFaultTest {
 protected:
  // The library job installs into a product folder that `protection` made read-only and that
  // holds a file from before. What the installer does must match what the platform allows: when
  // a new file may be created there, the installation succeeds; when not, the user sees the
  // platform's error for the first file, then the failure report, and OK works again once the
  // folder may be written.
  void InstallIntoProtectedFolder(const Protection& protection) {
    const Workspace workspace = NewWorkspace();
    WriteTree(workspace.tree, LibraryTree());
    const std::string installer = Build(workspace, "--job library --caption Faults");
    ASSERT_FALSE(installer.empty());
    const std::string target = workspace.tmp + "\\" + kProductFolder;
    WriteTree(target, {File("old.txt", "from before", Stamp())});

    ASSERT_TRUE(protection.apply(target)) << "the system refused: " << protection.name;
    ProtectedFolderGuard guard(protection, target);
    const DWORD refused = CreationError(target);
    std::printf("[ %s ] folder attributes 0x%lX; creating a file there: %s\n", protection.name,
                static_cast<unsigned long>(GetFileAttributesA(target.c_str())),
                refused == 0 ? "allowed" : host::win32::ErrorText(refused).c_str());

    InstallerRun run(installer, workspace.Environment());
    ASSERT_TRUE(run.started());
    ASSERT_NE(ReadyForm(run), nullptr);
    HWND ok = run.Control(app::kOkButtonId);
    ASSERT_TRUE(run.Click(ok));

    if (refused != 0) {
      const std::optional<SeenMessageBox> error = run.WaitForMessageBox();
      ASSERT_TRUE(error.has_value());
      EXPECT_EQ(error->title, "Setup");
      EXPECT_NE(error->text.find(host::win32::ErrorText(refused)), std::string::npos)
          << error->text;
      EXPECT_NE(error->text.find(target + "\\readme.txt"), std::string::npos) << error->text;
      std::printf("[ %s ] the installer showed: %s\n", protection.name, error->text.c_str());
      ASSERT_TRUE(run.Click(GetDlgItem(error->handle, IDOK)));
      ASSERT_NO_FATAL_FAILURE(ExpectMessage(run, kFailureReport));

      ASSERT_TRUE(WaitFor([&] { return Enabled(ok); }, run.process()));
      EXPECT_TRUE(run.Running());
      // Nothing could be deleted or written there.
      EXPECT_EQ(ListTree(target), (Listing{{"old.txt", "from before"}}));

      guard.Undo();
      ASSERT_TRUE(run.Click(ok));
    }
    ASSERT_NO_FATAL_FAILURE(ExpectMessage(run, kUnpackedTo + target));
    EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
    EXPECT_FALSE(FileExists(target + "\\old.txt"));
    ExpectSameFiles(workspace.tree + "\\C", target);
    ExpectSameFiles(workspace.tree + "\\S", target);
    std::printf("[ %s ] outcome: %s\n", protection.name,
                refused == 0 ? "installed at the first OK" : "error, then installed at OK again");
  }
};

TEST_F(ProtectedDestinationTest, ReadOnlyProductFolder) {
  const Protection cases[] = {
      // Wine keeps no read-only attribute on folders; on Windows the attribute does not stop
      // files from being created in a folder either.
      {"read-only attribute set through Windows",
       [](const std::string& folder) {
         return SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_READONLY) != FALSE;
       },
       [](const std::string& folder) {
         SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
       }},
      // Wine shows a folder without write permission as read-only (0x11). Run as root, Wine may
      // still create and delete in it, as root may.
      {"no write permission for anyone (mode 0555)",
       [](const std::string& folder) {
         return RunsOnUnixSide("chmod 0555 " + ShellQuote(UnixPath(folder)));
       },
       [](const std::string& folder) {
         RunsOnUnixSide("chmod 0755 " + ShellQuote(UnixPath(folder)));
       }},
  };
  for (const Protection& row : cases) {
    SCOPED_TRACE(row.name);
    InstallIntoProtectedFolder(row);
  }
}

// A folder nobody may change, root included: its entries can be neither added nor removed.
TEST_F(ProtectedDestinationTest, ImmutableProductFolder) {
  const Protection immutable = {
      "immutable folder (chattr +i)",
      [](const std::string& folder) {
        return RunsOnUnixSide("chattr +i " + ShellQuote(UnixPath(folder)));
      },
      [](const std::string& folder) {
        RunsOnUnixSide("chattr -i " + ShellQuote(UnixPath(folder)));
      }};
  {
    // Making a folder immutable takes the right to (CAP_LINUX_IMMUTABLE) and a file system that
    // keeps the flag; without them there is nothing to test.
    const std::string trial = temp_.Sub("immutable-trial");
    CreateDirectoryA(trial.c_str(), nullptr);
    if (!immutable.apply(trial)) {
      GTEST_SKIP() << "this system refuses to make a folder immutable";
    }
    immutable.undo(trial);
  }
  InstallIntoProtectedFolder(immutable);
}

// ---------------------------------------------------------------------------------------------
// Links in a folder that a job clears, leading to places outside it.

struct LinkCase {
  const char* name;
  bool application_job;  // otherwise the library job
};

TEST_F(InstallerFaultTest, ClearingAFolderNeverReachesThroughItsLinks) {
  const LinkCase cases[] = {
      {"library job's product folder, cleared before extraction", false},
      {"application job's folder, cleared before extraction and removed after its setup", true},
  };
  for (const LinkCase& row : cases) {
    SCOPED_TRACE(row.name);
    const Workspace workspace = NewWorkspace();
    WriteTree(workspace.tree, row.application_job ? ApplicationTree() : LibraryTree());
    const std::string installer = Build(
        workspace, row.application_job ? "--job application" : "--job library --caption Links");
    ASSERT_FALSE(installer.empty());
    const std::string target =
        workspace.tmp + "\\" + (row.application_job ? "Quillon" : kProductFolder);
    const std::string outside = workspace.root + "\\outside";
    WriteTree(outside, {Folder("full"), File("full\\a.txt", "outside a", Stamp()),
                        Folder("full\\inner"), File("full\\inner\\b.txt", "outside b", Stamp()),
                        Folder("empty"), File("note.txt", "outside note", Stamp())});
    WriteTree(target, {File("stale.txt", "stale", Stamp()), Folder("sub"),
                       File("sub\\old.txt", "old", Stamp())});

    // Windows programs cannot make links under Wine; the host can, and Wine shows them.
    const std::string from = UnixPath(outside);
    const std::string to = UnixPath(target);
    ASSERT_FALSE(from.empty());
    ASSERT_TRUE(RunsOnUnixSide(
        "ln -s " + ShellQuote(from + "/full") + " " + ShellQuote(to + "/linked folder") +
        " && ln -s " + ShellQuote(from + "/empty") + " " + ShellQuote(to + "/linked empty") +
        " && ln -s " + ShellQuote(from + "/note.txt") + " " + ShellQuote(to + "/linked note.txt")));
    EXPECT_NE(GetFileAttributesA((target + "\\linked folder").c_str()) &
                  FILE_ATTRIBUTE_REPARSE_POINT,
              0u);
    const Listing before = ListTree(outside);

    const ChildSignals child(workspace.root, false);
    InstallerRun run(installer, workspace.Environment(child));
    ASSERT_TRUE(run.started());
    ASSERT_NE(ReadyForm(run), nullptr);
    ASSERT_TRUE(run.Click(run.Control(app::kOkButtonId)));
    const std::optional<SeenMessageBox> report = run.WaitForMessageBox();
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->text.rfind(kUnpackedTo + target, 0), 0u) << report->text;
    // The clearing ran: what was there before and is no link is gone.
    EXPECT_FALSE(FileExists(target + "\\stale.txt"));
    EXPECT_FALSE(FolderExists(target + "\\sub"));
    ASSERT_TRUE(run.Click(GetDlgItem(report->handle, IDOK)));
    if (row.application_job) {
      EXPECT_TRUE(child.WaitStarted());
    }
    EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));

    EXPECT_EQ(ListTree(outside), before) << "something outside the cleared folder changed";
    // Whatever links are left go now, from the host side, before the temporary folder is
    // removed by a program that might follow them.
    RunsOnUnixSide("rm -f " + ShellQuote(to + "/linked folder") + " " +
                   ShellQuote(to + "/linked empty") + " " + ShellQuote(to + "/linked note.txt"));
  }
}

// ---------------------------------------------------------------------------------------------
// Cancel while a large package is being extracted.

constexpr int kLargeFiles = 6;
constexpr size_t kLargeFileSize = 2'900'000;  // six of them nearly fill the archive area

std::string LargeFileName(int index) { return "part" + std::to_string(index) + ".bin"; }

// The threads of a process other than `keep`, opened so that they can be held.
std::vector<host::win32::UniqueHandle> ThreadsBut(DWORD process_id, DWORD keep) {
  std::vector<host::win32::UniqueHandle> threads;
  host::win32::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot.valid()) return threads;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot.get(), &entry); more;
       more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID != process_id || entry.th32ThreadID == keep) continue;
    host::win32::UniqueHandle thread(
        OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, entry.th32ThreadID));
    if (thread.valid()) threads.push_back(std::move(thread));
  }
  return threads;
}

// Suspends the threads and returns once each has stopped: SuspendThread only asks for the stop,
// and reading a thread's registers waits for it.
bool Hold(const std::vector<host::win32::UniqueHandle>& threads) {
  bool held = !threads.empty();
  for (const host::win32::UniqueHandle& thread : threads) {
    if (SuspendThread(thread.get()) == static_cast<DWORD>(-1)) held = false;
  }
  for (const host::win32::UniqueHandle& thread : threads) {
    CONTEXT registers{};
    registers.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(thread.get(), &registers)) held = false;
  }
  return held;
}

// Waits for `condition` without pausing between tries: the extraction writes megabytes in
// milliseconds, and a pause would let it run on to its end. False when the process ended or
// patience ran out first.
bool WatchClosely(const std::function<bool()>& condition, HANDLE process) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return condition();
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  return true;
}

// The size of every file in a folder (no sub-folders here).
std::map<std::string, size_t> FileSizes(const std::string& folder) {
  std::map<std::string, size_t> sizes;
  for (const std::string& name : FolderContents(folder)) {
    sizes[name] = ReadFileBytes(folder + "\\" + name).size();
  }
  return sizes;
}

class CancelDuringExtractionTest : public InstallerFaultTest {
 protected:
  enum class Attempt { kCut, kEndedFirst, kBroken };

  void SetUp() override {
    std::vector<TreeItem> items = {File("id.txt", ManifestLine('D', "Large"), Stamp()),
                                   Folder("C")};
    for (int i = 1; i <= kLargeFiles; ++i) {
      items.push_back(File("C\\" + LargeFileName(i), Expected(i), Stamp()));
    }
    workspace_ = std::make_unique<Workspace>(NewWorkspace());
    WriteTree(workspace_->tree, items);
    installer_ = Build(*workspace_, "--job library --caption Large");
  }

  static std::string Expected(int index) {
    return PatternBytes(kLargeFileSize, static_cast<uint8_t>(index));
  }

  // One run: OK, then, as soon as the job has made its target folder, the job's thread is held so
  // that Cancel surely comes in the middle of the extraction, and Cancel is pressed. The job can
  // outrun the hold and finish first; then the run is given up.
  Attempt CancelOnce() {
    const std::string target = workspace_->tmp + "\\Large";
    RemoveFolderTree(target);
    InstallerRun run(installer_, workspace_->Environment());
    EXPECT_TRUE(run.started());
    if (!run.started() || ReadyForm(run) == nullptr) return Attempt::kBroken;
    EXPECT_TRUE(run.Click(run.Control(app::kOkButtonId)));
    // The click has been handled; the job's thread starts at once, or right after the first
    // timer tick when the click came before it.
    const DWORD process_id = GetProcessId(run.process());
    std::vector<host::win32::UniqueHandle> job;
    EXPECT_TRUE(WatchClosely(
        [&] {
          job = ThreadsBut(process_id, run.thread_id());
          return !job.empty();
        },
        run.process()));
    EXPECT_TRUE(WatchClosely([&] { return FolderExists(target); }, run.process()));
    EXPECT_TRUE(Hold(job));
    if (::testing::Test::HasFailure()) return Attempt::kBroken;
    const std::map<std::string, size_t> at_cancel = FileSizes(target);
    const auto last = at_cancel.find(LargeFileName(kLargeFiles));
    if ((last != at_cancel.end() && last->second == kLargeFileSize) ||
        !run.MessageBoxesNow().empty()) {
      // Let the job end as it would have: its report, then the end of the program.
      for (const host::win32::UniqueHandle& thread : job) ResumeThread(thread.get());
      const std::optional<SeenMessageBox> report = run.WaitForMessageBox();
      EXPECT_TRUE(report.has_value());
      if (report) {
        EXPECT_TRUE(run.Click(GetDlgItem(report->handle, IDOK)));
      }
      EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0));
      return ::testing::Test::HasFailure() ? Attempt::kBroken : Attempt::kEndedFirst;
    }

    EXPECT_TRUE(run.Click(run.Control(app::kCancelButtonId)));
    EXPECT_EQ(run.WaitForExit(), std::optional<DWORD>(0)) << "Cancel did not end the program";
    CheckWhatWasWritten(target, at_cancel);
    return Attempt::kCut;
  }

  // Under Wine a thread that the exiting process has not stopped yet may still run for a moment
  // while the process ends (Windows stops every other thread first), so a held job can add a
  // little after Cancel. What was written stays as it was, and it is all the package's first
  // files, whole, but for one that was cut.
  void CheckWhatWasWritten(const std::string& target,
                           const std::map<std::string, size_t>& at_cancel) {
    const std::map<std::string, size_t> after = FileSizes(target);
    for (const auto& [name, size] : at_cancel) {
      SCOPED_TRACE(name);
      ASSERT_EQ(after.count(name), 1u) << "removed after Cancel";
      EXPECT_GE(after.at(name), size);
    }
    int begun = 0;
    while (begun < kLargeFiles && after.count(LargeFileName(begun + 1)) != 0) ++begun;
    EXPECT_EQ(after.size(), static_cast<size_t>(begun)) << "files out of stored order";
    size_t cut_files = 0;
    for (int i = 1; i <= begun; ++i) {
      SCOPED_TRACE(LargeFileName(i));
      const std::string expected = Expected(i);
      const std::string written = ReadFileBytes(target + "\\" + LargeFileName(i));
      EXPECT_LE(written.size(), expected.size());
      EXPECT_TRUE(expected.compare(0, written.size(), written) == 0)
          << "not the file's first bytes";
      if (written.size() != expected.size()) {
        ++cut_files;
        EXPECT_EQ(i, begun) << "an incomplete file before the last one begun";
      }
    }
    EXPECT_LE(cut_files, 1u);
    // Nothing was written anywhere else below the temporary folder.
    EXPECT_EQ(FolderContents(workspace_->tmp), std::vector<std::string>{"Large"});

    size_t held_bytes = 0;
    size_t final_bytes = 0;
    for (const auto& [name, size] : at_cancel) held_bytes += size;
    for (const auto& [name, size] : after) final_bytes += size;
    std::printf("Cancel came with %zu of %d files begun (%zu bytes); after the exit %d begun, "
                "%zu cut, %zu bytes\n",
                at_cancel.size(), kLargeFiles, held_bytes, begun, cut_files, final_bytes);
  }

  static void RemoveFolderTree(const std::string& folder) {
    for (const std::string& name : FolderContents(folder)) {
      DeleteFileA((folder + "\\" + name).c_str());
    }
    RemoveDirectoryA(folder.c_str());
  }

  std::unique_ptr<Workspace> workspace_;
  std::string installer_;
};

TEST_F(CancelDuringExtractionTest, EndsTheProgramAndLeavesOnlyTheFirstFilesWritten) {
  ASSERT_FALSE(installer_.empty());
  // Bounded: a run whose job outran the hold says nothing about Cancel and is repeated.
  constexpr int kAttempts = 8;
  Attempt attempt = Attempt::kEndedFirst;
  for (int i = 0; i < kAttempts && attempt == Attempt::kEndedFirst; ++i) {
    attempt = CancelOnce();
    if (attempt == Attempt::kEndedFirst) std::printf("the job finished before it was held\n");
  }
  EXPECT_EQ(attempt, Attempt::kCut) << "Cancel never came in the middle of the extraction";
}

}  // namespace
}  // namespace e2e
