// Writing files that fails: midway through the data (a file size limit, EFBIG; a full device,
// ENOSPC), when the file is closed (EIO), and when the date or the attributes cannot be set.
// Limits and system-call filters are set in forked children, so they never reach other tests.
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <ios>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/MainUnit.h"
#include "archive/Stacker.h"
#include "host/files.h"
#include "tests/faults/fault_support.h"
#include "tests/support/built_programs.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_folder.h"

namespace {

using fault_testing::Bytes;
using fault_testing::ChildOutcome;
using fault_testing::Report;
using Listing = std::map<std::string, std::string>;
using ::testing::HasSubstr;

constexpr size_t kBigSize = 100'000;

class WriteFaultTest : public testing_support::TempFolderTest {
 protected:
  WriteFaultTest()
      : small_(fault_testing::PatternBytes(100, 1)),
        big_(fault_testing::PatternBytes(kBigSize, 2)),
        archive_(fault_testing::MakeArchive({{"C", true, {}},
                                             {"C\\empty.txt", false, {}},
                                             {"C\\a.txt", false, small_},
                                             {"C\\big.bin", false, big_},
                                             {"C\\after.txt", false, Bytes(10, 'x')}})) {}

  // One extraction pass of the memory source in a child whose files may grow to `limit` bytes.
  ChildOutcome PassUnderLimit(rlim_t limit, const std::string& target) {
    return fault_testing::RunInChild([&] {
      testing_support::RecordingUi ui;
      fault_testing::UseMemoryArchive(archive_);
      fault_testing::LimitFileSize(limit);
      Report report;
      report["steps"] = fault_testing::JoinLines(fault_testing::ExtractPass("", "C", target));
      report["messages"] = fault_testing::JoinLines(ui.Messages());
      return report;
    });
  }

  // What a written prefix of an entry's data must hold.
  void ExpectPrefixOf(const Bytes& data, const std::string& path) {
    const Bytes written = fault_testing::ReadBytes(path);
    ASSERT_LE(written.size(), data.size()) << path;
    EXPECT_TRUE(std::equal(written.begin(), written.end(), data.begin())) << path;
  }

  Bytes small_;
  Bytes big_;
  Bytes archive_;
};

TEST_F(WriteFaultTest, FileSizeLimitFailsTheEntryWithThePlatformsText) {
  struct Case {
    const char* name;
    rlim_t limit;
    std::vector<std::string> steps;
    Listing target;
    const char* failing;  // the file whose write fails, or none
  };
  const std::string kEmpty = "file, 0 bytes";
  const Case cases[] = {
      {"no byte may be written: an empty file still is, the first byte fails",
       0,
       {"C: extracted", "C\\empty.txt: extracted", "C\\a.txt: failed"},
       {{"empty.txt", kEmpty}, {"a.txt", kEmpty}},
       "a.txt"},
      {"inside the first chunk",
       1'000,
       {"C: extracted", "C\\empty.txt: extracted", "C\\a.txt: extracted", "C\\big.bin: failed"},
       {{"empty.txt", kEmpty}, {"a.txt", "file, 100 bytes"}, {"big.bin", "file, 1000 bytes"}},
       "big.bin"},
      {"exactly one chunk",
       32'768,
       {"C: extracted", "C\\empty.txt: extracted", "C\\a.txt: extracted", "C\\big.bin: failed"},
       {{"empty.txt", kEmpty}, {"a.txt", "file, 100 bytes"}, {"big.bin", "file, 32768 bytes"}},
       "big.bin"},
      {"one byte into the second chunk",
       32'769,
       {"C: extracted", "C\\empty.txt: extracted", "C\\a.txt: extracted", "C\\big.bin: failed"},
       {{"empty.txt", kEmpty}, {"a.txt", "file, 100 bytes"}, {"big.bin", "file, 32769 bytes"}},
       "big.bin"},
      {"one byte short of the whole entry",
       kBigSize - 1,
       {"C: extracted", "C\\empty.txt: extracted", "C\\a.txt: extracted", "C\\big.bin: failed"},
       {{"empty.txt", kEmpty}, {"a.txt", "file, 100 bytes"}, {"big.bin", "file, 99999 bytes"}},
       "big.bin"},
      {"room for everything",
       kBigSize,
       {"C: extracted", "C\\empty.txt: extracted", "C\\a.txt: extracted", "C\\big.bin: extracted",
        "C\\after.txt: extracted"},
       {{"empty.txt", kEmpty},
        {"a.txt", "file, 100 bytes"},
        {"big.bin", "file, 100000 bytes"},
        {"after.txt", "file, 10 bytes"}},
       nullptr},
  };
  testing_support::WriteTextFile(temp_.Sub("sibling.txt"), "stays");
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target_name = "target" + std::to_string(row++);
    const std::string target = temp_.Sub(target_name);
    const Listing before = fault_testing::Snapshot(temp_.path());

    const ChildOutcome outcome = PassUnderLimit(c.limit, target);

    ASSERT_TRUE(outcome.exited && outcome.exit_code == 0) << fault_testing::Describe(outcome);
    EXPECT_EQ(fault_testing::SplitLines(outcome.report.at("steps")), c.steps);
    if (c.failing == nullptr) {
      EXPECT_EQ(outcome.report.at("messages"), "");
    } else {
      ASSERT_NO_FATAL_FAILURE(
          fault_testing::ExpectOneMessage(outcome, EFBIG, target + "\\" + c.failing));
    }
    EXPECT_EQ(fault_testing::Snapshot(target), c.target);
    ExpectPrefixOf(small_, target + "\\a.txt");
    ExpectPrefixOf(big_, target + "\\big.bin");
    EXPECT_EQ(fault_testing::Without(fault_testing::Snapshot(temp_.path()), target_name), before);
  }
}

// The pass of a job: the failure ends it, and the busy cursor still goes back.
TEST_F(WriteFaultTest, ExtractPartReportsTheFailedWriteAndEndsThePass) {
  const std::string target = temp_.Sub("product\\folder");
  const ChildOutcome outcome = fault_testing::RunInChild([&] {
    testing_support::RecordingUi ui;
    fault_testing::UseMemoryArchive(archive_);
    fault_testing::LimitFileSize(1'000);
    Report report;
    report["result"] = app::ExtractPart("C", target) ? "true" : "false";
    std::vector<std::string> calls;
    for (const testing_support::UiCall& call : ui.Calls()) {
      std::ostringstream text;
      text << call;
      calls.push_back(text.str());
    }
    report["calls"] = fault_testing::JoinLines(calls);
    return report;
  });

  ASSERT_TRUE(outcome.exited && outcome.exit_code == 0) << fault_testing::Describe(outcome);
  EXPECT_EQ(outcome.report.at("result"), "false");
  const std::vector<std::string> calls = fault_testing::SplitLines(outcome.report.at("calls"));
  ASSERT_EQ(calls.size(), 3u) << outcome.report.at("calls");
  EXPECT_EQ(calls[0], "busy(1)");
  EXPECT_THAT(calls[1], HasSubstr("message("));
  EXPECT_THAT(calls[1], HasSubstr(fault_testing::PlatformText(EFBIG)));
  EXPECT_THAT(calls[1], HasSubstr(host::NativePath(target + "\\big.bin")));
  EXPECT_EQ(calls[2], "busy(0)");
  EXPECT_EQ(fault_testing::Snapshot(temp_.path()),
            (Listing{{"product", "folder"},
                     {"product\\folder", "folder"},
                     {"product\\folder\\empty.txt", "file, 0 bytes"},
                     {"product\\folder\\a.txt", "file, 100 bytes"},
                     {"product\\folder\\big.bin", "file, 1000 bytes"}}));
}

// A device that is always full: the destination is a link to it, so every write fails with
// ENOSPC after the file was opened.
TEST_F(WriteFaultTest, FullDeviceFailsTheEntryWithThePlatformsText) {
  if (::access("/dev/full", W_OK) != 0) {
    GTEST_SKIP() << "this system has no writable /dev/full";
  }
  const std::string target = temp_.Sub("target");
  ASSERT_TRUE(host::CreateFolderWithParents(target));
  ASSERT_EQ(::symlink("/dev/full", host::NativePath(target + "\\big.bin").c_str()), 0);

  testing_support::RecordingUi ui;
  fault_testing::UseMemoryArchive(archive_);
  const std::vector<std::string> steps = fault_testing::ExtractPass("", "C", target);
  archive::SetArchiveMemory(nullptr, 0);

  EXPECT_EQ(steps, (std::vector<std::string>{"C: extracted", "C\\empty.txt: extracted",
                                             "C\\a.txt: extracted", "C\\big.bin: failed"}));
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_THAT(ui.Messages()[0], HasSubstr(fault_testing::PlatformText(ENOSPC)));
  EXPECT_THAT(ui.Messages()[0], HasSubstr(host::NativePath(target + "\\big.bin")));
  EXPECT_EQ(fault_testing::Snapshot(temp_.path()),
            (Listing{{"target", "folder"},
                     {"target\\empty.txt", "file, 0 bytes"},
                     {"target\\a.txt", "file, 100 bytes"},
                     {"target\\big.bin", "link to /dev/full"}}));
}

// Setting the stored date or the attribute bits may fail; the entry is still extracted, and
// nothing is shown. The failures are made by the kernel in a child (a seccomp filter).
TEST_F(WriteFaultTest, FailureToSetTheDateOrTheAttributesIsIgnored) {
  struct Case {
    const char* name;
    std::vector<long> failing_calls;
    bool date_applied;
    bool read_only_applied;
  };
  const Case cases[] = {
      {"nothing fails", {}, true, true},
      {"the date cannot be set", {SYS_utimensat, SYS_utime, SYS_utimes, SYS_futimesat}, false,
       true},
      {"the attributes cannot be set", {SYS_chmod, SYS_fchmod, SYS_fchmodat}, true, false},
  };
  const Bytes archive = fault_testing::MakeArchive(
      {{"C", true, {}}, {"C\\locked.txt", false, small_, true}, {"C\\big.bin", false, big_}});
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = temp_.Sub("target" + std::to_string(row++));

    const ChildOutcome outcome = fault_testing::RunInChild([&] {
      testing_support::RecordingUi ui;
      fault_testing::UseMemoryArchive(archive);
      if (!c.failing_calls.empty()) fault_testing::FailSystemCalls(c.failing_calls, EPERM);
      Report report;
      report["steps"] = fault_testing::JoinLines(fault_testing::ExtractPass("", "C", target));
      report["messages"] = fault_testing::JoinLines(ui.Messages());
      return report;
    });

    ASSERT_TRUE(outcome.exited && outcome.exit_code == 0) << fault_testing::Describe(outcome);
    EXPECT_EQ(fault_testing::SplitLines(outcome.report.at("steps")),
              (std::vector<std::string>{"C: extracted", "C\\locked.txt: extracted",
                                        "C\\big.bin: extracted"}));
    EXPECT_EQ(outcome.report.at("messages"), "");
    EXPECT_EQ(fault_testing::ReadBytes(target + "\\locked.txt"), small_);
    EXPECT_EQ(fault_testing::ReadBytes(target + "\\big.bin"), big_);
    struct stat info {};
    ASSERT_EQ(::stat(host::NativePath(target + "\\locked.txt").c_str(), &info), 0);
    struct tm local {};
    ASSERT_NE(::localtime_r(&info.st_mtime, &local), nullptr);
    EXPECT_EQ(local.tm_year + 1900 == 2021, c.date_applied) << "year " << local.tm_year + 1900;
    EXPECT_EQ((info.st_mode & 0222) == 0, c.read_only_applied) << std::oct << info.st_mode;
  }
}

// A write error that the file system reports only when the file is closed (as network file
// systems do): the entry fails with the error's text, and the file, its data written, stays.
TEST_F(WriteFaultTest, WriteErrorReportedOnCloseFailsTheEntry) {
  const std::string target = temp_.Sub("target");
  const ChildOutcome outcome = fault_testing::RunInChild([&] {
    testing_support::RecordingUi ui;
    fault_testing::UseMemoryArchive(archive_);
    fault_testing::FailSystemCalls({SYS_close}, EIO);
    Report report;
    report["steps"] = fault_testing::JoinLines(fault_testing::ExtractPass("", "C", target));
    report["messages"] = fault_testing::JoinLines(ui.Messages());
    return report;
  });

  ASSERT_TRUE(outcome.exited && outcome.exit_code == 0) << fault_testing::Describe(outcome);
  EXPECT_EQ(fault_testing::SplitLines(outcome.report.at("steps")),
            (std::vector<std::string>{"C: extracted", "C\\empty.txt: failed"}));
  ASSERT_NO_FATAL_FAILURE(fault_testing::ExpectOneMessage(outcome, EIO, target + "\\empty.txt"));
  EXPECT_EQ(fault_testing::Snapshot(temp_.path()),
            (Listing{{"target", "folder"}, {"target\\empty.txt", "file, 0 bytes"}}));
}

// The packing tool's extract command under the same limit, run as a user runs it.
TEST_F(WriteFaultTest, SetupPackExtractFailsWithStatus2AndThePlatformsText) {
  struct Case {
    const char* name;
    rlim_t limit;
    const char* failing;
    const char* left;  // what the message says stays in DEST
    Listing dest;
  };
  const Case cases[] = {
      {"no byte may be written",
       0,
       "a.txt",
       "the 2 entries before it stay in",
       {{"C", "folder"}, {"C\\empty.txt", "file, 0 bytes"}, {"C\\a.txt", "file, 0 bytes"}}},
      {"at a chunk boundary",
       32'768,
       "big.bin",
       "the 3 entries before it stay in",
       {{"C", "folder"},
        {"C\\empty.txt", "file, 0 bytes"},
        {"C\\a.txt", "file, 100 bytes"},
        {"C\\big.bin", "file, 32768 bytes"}}},
  };
  const std::string archive_path = temp_.Sub("package.pak");
  fault_testing::WriteBytes(archive_path, archive_);
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dest_name = "dest" + std::to_string(row++);
    const std::string dest = host::NativePath(temp_.Sub(dest_name));
    const Listing before = fault_testing::Snapshot(temp_.path());

    const ChildOutcome outcome = fault_testing::RunProgramInChild(
        testing_support::SetupPackProgram(), {"extract", host::NativePath(archive_path), dest},
        [&] { fault_testing::LimitFileSize(c.limit); });

    const std::string& output = outcome.report.at("output");
    EXPECT_TRUE(outcome.exited) << fault_testing::Describe(outcome);
    EXPECT_EQ(outcome.exit_code, 2) << output;
    EXPECT_THAT(output, HasSubstr(fault_testing::PlatformText(EFBIG)));
    EXPECT_THAT(output, HasSubstr(c.failing));
    EXPECT_THAT(output, HasSubstr(c.left));
    EXPECT_THAT(output, HasSubstr("error"));
    EXPECT_EQ(fault_testing::Snapshot(temp_.Sub(dest_name)), c.dest);
    EXPECT_EQ(fault_testing::Without(fault_testing::Snapshot(temp_.path()), dest_name), before);
  }
}

// setup-pack writes new files on two threads while its reader goes on. When one fails, files of
// later entries may already be written: they are taken away again, so DEST holds what writing
// one entry after another leaves, whatever the threads' timing. Many small files follow the
// failing one, so that some of them are written before the failure is known; three extractions.
TEST_F(WriteFaultTest, SetupPackExtractLeavesNothingOfTheEntriesAfterTheFailedOne) {
  std::vector<fault_testing::EntryPlan> entries{{"C", true, {}},
                                                {"C\\a.txt", false, small_},
                                                {"C\\big.bin", false, big_}};
  for (int i = 0; i < 300; ++i) {
    entries.push_back({"C\\after" + std::to_string(i) + ".txt", false, Bytes(10, 'x')});
  }
  const std::string archive_path = temp_.Sub("many.pak");
  fault_testing::WriteBytes(archive_path, fault_testing::MakeArchive(entries));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("extraction " + std::to_string(round + 1));
    const std::string dest_name = "dest" + std::to_string(round);
    const std::string dest = host::NativePath(temp_.Sub(dest_name));

    const ChildOutcome outcome = fault_testing::RunProgramInChild(
        testing_support::SetupPackProgram(), {"extract", host::NativePath(archive_path), dest},
        [&] { fault_testing::LimitFileSize(1000); });

    const std::string& output = outcome.report.at("output");
    EXPECT_EQ(outcome.exit_code, 2) << output;
    EXPECT_THAT(output, HasSubstr(fault_testing::PlatformText(EFBIG)));
    EXPECT_THAT(output, HasSubstr("entry index 2 (C\\big.bin)"));
    EXPECT_THAT(output, HasSubstr("the 2 entries before it stay in"));
    EXPECT_EQ(fault_testing::Snapshot(temp_.Sub(dest_name)),
              (Listing{{"C", "folder"},
                       {"C\\a.txt", "file, 100 bytes"},
                       {"C\\big.bin", "file, 1000 bytes"}}));
  }
}

}  // namespace
