// Read errors of the file source. A forked child opens the walk, then has the kernel fail every
// read of a chosen size from the archive's descriptor (a seccomp filter), so that a header read
// or one data chunk fails while the reads around it succeed.
#include <algorithm>
#include <cerrno>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/Stacker.h"
#include "archive/entry_header.h"
#include "host/files.h"
#include "tests/faults/fault_support.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_folder.h"

namespace {

using fault_testing::Bytes;
using fault_testing::ChildOutcome;
using fault_testing::Report;
using Listing = std::map<std::string, std::string>;

constexpr size_t kTwoChunksSize = 40'000;  // a chunk of 32,768 bytes and one of 7,232

class ReadFaultTest : public testing_support::TempFolderTest {
 protected:
  ReadFaultTest()
      : big_(fault_testing::PatternBytes(kTwoChunksSize, 31)),
        archive_path_(temp_.Sub("package.pak")) {
    fault_testing::WriteBytes(
        archive_path_, fault_testing::MakeArchive({{"C", true, {}},
                                                   {"C\\a.txt", false, Bytes(100, 'a')},
                                                   {"C\\big.bin", false, big_},
                                                   {"C\\after.txt", false, Bytes(10, 'z')}}));
  }

  // One pass over the archive file in a child, in which reads of `failing_count` bytes fail with
  // EIO once the walk has found its first entry.
  ChildOutcome PassWithFailingReads(size_t failing_count, const std::string& target) {
    return fault_testing::RunInChild([&] {
      testing_support::RecordingUi ui;
      fault_testing::UseFileArchive();
      host::CreateFolderWithParents(target);
      std::vector<std::string> steps;
      archive::EntryHeader header{};
      bool found = archive::OpenArchive(archive_path_, "C", header);
      const int fd = fault_testing::DescriptorOf(archive_path_);
      if (fd < 0) throw std::runtime_error("the archive is not open");
      fault_testing::FailReads(fd, failing_count, EIO);
      for (; found; found = archive::FindNextEntry(header)) {
        const bool extracted = archive::ExtractEntry(header, target);
        steps.push_back(archive::EntryName(header) + (extracted ? ": extracted" : ": failed"));
        if (!extracted) break;
      }
      archive::CloseArchive();
      Report report;
      report["steps"] = fault_testing::JoinLines(steps);
      report["messages"] = fault_testing::JoinLines(ui.Messages());
      return report;
    });
  }

  Bytes big_;
  std::string archive_path_;
};

TEST_F(ReadFaultTest, FailedDataReadShowsThePlatformsTextAndAHeaderReadEndsTheWalk) {
  struct Case {
    const char* name;
    size_t failing_count;
    std::vector<std::string> steps;
    Listing target;
    bool message;
  };
  const Case cases[] = {
      {"the next header cannot be read: the walk ends without a message",
       archive::kEntryHeaderSize,
       {"C: extracted"},
       {},
       false},
      {"the first data chunk cannot be read",
       32'768,
       {"C: extracted", "C\\a.txt: extracted", "C\\big.bin: failed"},
       {{"a.txt", "file, 100 bytes"}, {"big.bin", "file, 0 bytes"}},
       true},
      {"the second data chunk cannot be read",
       kTwoChunksSize - 32'768,
       {"C: extracted", "C\\a.txt: extracted", "C\\big.bin: failed"},
       {{"a.txt", "file, 100 bytes"}, {"big.bin", "file, 32768 bytes"}},
       true},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target_name = "target" + std::to_string(row++);
    const std::string target = temp_.Sub(target_name);
    const Listing before = fault_testing::Snapshot(temp_.path());

    const ChildOutcome outcome = PassWithFailingReads(c.failing_count, target);

    ASSERT_TRUE(outcome.exited && outcome.exit_code == 0) << fault_testing::Describe(outcome);
    EXPECT_EQ(fault_testing::SplitLines(outcome.report.at("steps")), c.steps);
    if (c.message) {
      ASSERT_NO_FATAL_FAILURE(fault_testing::ExpectOneMessage(outcome, EIO, archive_path_));
    } else {
      EXPECT_EQ(outcome.report.at("messages"), "");
    }
    EXPECT_EQ(fault_testing::Snapshot(target), c.target);
    const Bytes written = fault_testing::ReadBytes(target + "\\big.bin");
    EXPECT_TRUE(std::equal(written.begin(), written.end(), big_.begin()));
    EXPECT_EQ(fault_testing::Without(fault_testing::Snapshot(temp_.path()), target_name), before);
  }
}

}  // namespace
