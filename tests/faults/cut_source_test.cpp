// Sources cut short at every offset where the reader changes what it does: inside a header, at
// its end, inside an entry's data, around a chunk boundary, one byte before the end. The memory
// source is exactly the kept bytes long (no zero padding after it), so a read beyond them would be
// a read outside the buffer, which the sanitizer build reports.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <map>
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
using Listing = std::map<std::string, std::string>;

enum class SourceKind { kMemory, kFile };

std::string SourceName(const ::testing::TestParamInfo<SourceKind>& source) {
  return source.param == SourceKind::kMemory ? "Memory" : "File";
}

constexpr int64_t kHeader = archive::kEntryHeaderSize;
constexpr int64_t kFirstSize = 40'000;
constexpr int64_t kSecondSize = 70'000;
constexpr int64_t kLastSize = 5'000;
// Where each part of the archive begins.
constexpr int64_t kFirstHeader = kHeader;  // after the folder entry C
constexpr int64_t kFirstData = kFirstHeader + kHeader;
constexpr int64_t kSecondHeader = kFirstData + kFirstSize;
constexpr int64_t kSecondData = kSecondHeader + kHeader;
constexpr int64_t kLastHeader = kSecondData + kSecondSize;
constexpr int64_t kLastData = kLastHeader + kHeader;
constexpr int64_t kEnd = kLastData + kLastSize;

class CutSourceTest : public ::testing::TestWithParam<SourceKind> {
 protected:
  CutSourceTest()
      : first_(fault_testing::PatternBytes(kFirstSize, 11)),
        second_(fault_testing::PatternBytes(kSecondSize, 12)),
        last_(fault_testing::PatternBytes(kLastSize, 13)),
        archive_(fault_testing::MakeArchive({{"C", true, {}},
                                             {"C\\first.bin", false, first_},
                                             {"C\\second.bin", false, second_},
                                             {"C\\last.txt", false, last_}})) {
    archive::SetArchiveKey(archive::kDefaultArchiveKey);
    archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
  }
  ~CutSourceTest() override {
    archive::CloseArchive();
    archive::SetArchiveMemory(nullptr, 0);
  }

  // Makes the first `kept` bytes of the archive the reader's source; returns the file name to
  // open (empty for the memory source).
  std::string UseCutSource(int64_t kept) {
    kept_.assign(archive_.begin(), archive_.begin() + kept);
    if (GetParam() == SourceKind::kMemory) {
      archive::SetArchiveMemory(kept_.data(), static_cast<int32_t>(kept_.size()));
      return std::string();
    }
    archive::SetArchiveMemory(nullptr, 0);
    const std::string file = temp_.Sub("cut" + std::to_string(kept) + ".pak");
    fault_testing::WriteBytes(file, kept_);
    return file;
  }

  const Bytes& DataOf(const std::string& name) const {
    return name == "first.bin" ? first_ : name == "second.bin" ? second_ : last_;
  }

  testing_support::TempFolder temp_;
  Bytes first_;
  Bytes second_;
  Bytes last_;
  Bytes archive_;
  Bytes kept_;
};

TEST_P(CutSourceTest, WalkEndsCleanlyOrTheEntryFailsWithoutAMessage) {
  struct Case {
    const char* name;
    int64_t kept;
    std::vector<std::string> steps;
    Listing target;  // besides the folder itself
  };
  const std::vector<std::string> kFolderOnly = {"C: extracted"};
  const Listing kNothing;
  const Listing kFirstWhole = {{"first.bin", "file, 40000 bytes"}};
  const std::vector<std::string> kUpToSecond = {"C: extracted", "C\\first.bin: extracted",
                                                "C\\second.bin: failed"};
  const Case cases[] = {
      {"1 byte of the first header", 1, {}, kNothing},
      {"100 bytes of the first header", 100, {}, kNothing},
      {"271 bytes of the first header", 271, {}, kNothing},
      {"exactly the first header", kFirstHeader, kFolderOnly, kNothing},
      {"1 byte of a later header", kFirstHeader + 1, kFolderOnly, kNothing},
      {"100 bytes of a later header", kFirstHeader + 100, kFolderOnly, kNothing},
      {"271 bytes of a later header", kFirstHeader + 271, kFolderOnly, kNothing},
      {"exactly a header with no data after it",
       kFirstData,
       {"C: extracted", "C\\first.bin: failed"},
       {{"first.bin", "file, 0 bytes"}}},
      {"inside the first chunk",
       kFirstData + 1'000,
       {"C: extracted", "C\\first.bin: failed"},
       {{"first.bin", "file, 1000 bytes"}}},
      {"one byte before a chunk boundary",
       kFirstData + 32'767,
       {"C: extracted", "C\\first.bin: failed"},
       {{"first.bin", "file, 32767 bytes"}}},
      {"at a chunk boundary",
       kFirstData + 32'768,
       {"C: extracted", "C\\first.bin: failed"},
       {{"first.bin", "file, 32768 bytes"}}},
      {"one byte after a chunk boundary",
       kFirstData + 32'769,
       {"C: extracted", "C\\first.bin: failed"},
       {{"first.bin", "file, 32769 bytes"}}},
      {"exactly at the end of an entry's data",
       kSecondHeader,
       {"C: extracted", "C\\first.bin: extracted"},
       kFirstWhole},
      {"at the second chunk boundary of a later entry",
       kSecondData + 65'536,
       kUpToSecond,
       {{"first.bin", "file, 40000 bytes"}, {"second.bin", "file, 65536 bytes"}}},
      {"the last entry one byte short",
       kEnd - 1,
       {"C: extracted", "C\\first.bin: extracted", "C\\second.bin: extracted",
        "C\\last.txt: failed"},
       {{"first.bin", "file, 40000 bytes"},
        {"second.bin", "file, 70000 bytes"},
        {"last.txt", "file, 4999 bytes"}}},
      {"the whole archive",
       kEnd,
       {"C: extracted", "C\\first.bin: extracted", "C\\second.bin: extracted",
        "C\\last.txt: extracted"},
       {{"first.bin", "file, 40000 bytes"},
        {"second.bin", "file, 70000 bytes"},
        {"last.txt", "file, 5000 bytes"}}},
  };
  ASSERT_EQ(archive_.size(), static_cast<size_t>(kEnd));
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::RecordingUi ui;
    const std::string file_name = UseCutSource(c.kept);
    const std::string target_name = "target" + std::to_string(row++);
    const std::string target = temp_.Sub(target_name);

    const std::vector<std::string> steps = fault_testing::ExtractPass(file_name, "C", target);

    EXPECT_EQ(steps, c.steps);
    EXPECT_TRUE(ui.Messages().empty()) << fault_testing::JoinLines(ui.Messages());
    EXPECT_EQ(fault_testing::Snapshot(target), c.target);
    for (const auto& [name, description] : fault_testing::Snapshot(target)) {
      const Bytes written = fault_testing::ReadBytes(target + "\\" + name);
      const Bytes& data = DataOf(name);
      ASSERT_LE(written.size(), data.size()) << name;
      EXPECT_TRUE(std::equal(written.begin(), written.end(), data.begin())) << name;
    }
  }
}

// A text read on a cut source returns what was delivered and nothing made up.
TEST_P(CutSourceTest, TextReadReturnsOnlyTheDeliveredBytes) {
  struct Case {
    const char* name;
    int64_t kept;
    size_t expected;
  };
  const Case cases[] = {
      {"no data", kLastData, 0},
      {"one byte", kLastData + 1, 1},
      {"inside", kLastData + 2'500, 2'500},
      {"one byte short", kEnd - 1, kLastSize - 1},
      {"whole", kEnd, kLastSize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file_name = UseCutSource(c.kept);
    archive::EntryHeader header{};
    ASSERT_TRUE(archive::OpenArchive(file_name, "C\\last.txt", header));
    const std::string text = archive::ReadEntryText(header);
    archive::CloseArchive();
    ASSERT_EQ(text.size(), c.expected);
    EXPECT_TRUE(std::equal(text.begin(), text.end(), last_.begin(),
                           [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, CutSourceTest,
                         ::testing::Values(SourceKind::kMemory, SourceKind::kFile),
                         SourceName);

// A source that reads but cannot seek (a pipe opened by name, holding the whole archive and
// closed for writing, so that reads end rather than wait): the walk ends at the first entry it
// has to jump over, with no message.
TEST(UnseekableSourceTest, WalkEndsWithoutAMessage) {
  testing_support::TempFolder temp;
  testing_support::RecordingUi ui;
  const Bytes archive =
      fault_testing::MakeArchive({{"X\\skipped.bin", false, fault_testing::PatternBytes(100, 21)},
                                  {"C", true, {}},
                                  {"C\\a.txt", false, fault_testing::PatternBytes(100, 22)}});
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::write(ends[1], archive.data(), archive.size()),
            static_cast<ssize_t>(archive.size()));
  ::close(ends[1]);
  fault_testing::UseFileArchive();
  const std::string target = temp.Sub("target");

  const std::vector<std::string> steps = fault_testing::ExtractPass(
      "/proc/self/fd/" + std::to_string(ends[0]), "C", target);

  ::close(ends[0]);
  EXPECT_TRUE(steps.empty()) << fault_testing::JoinLines(steps);
  EXPECT_TRUE(ui.Messages().empty()) << fault_testing::JoinLines(ui.Messages());
  EXPECT_EQ(fault_testing::Snapshot(target), Listing{});
}

}  // namespace
