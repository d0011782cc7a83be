// Archives of many tiny entries: the walk reads one header per entry and nothing of the data it
// jumps over, so its work grows linearly; walking and extracting them needs no more memory for
// 100,000 entries than for 10,000. Work is counted by the kernel's read counters and memory by
// the peak resident size of a forked child, never by time.
#include <fcntl.h>
#include <malloc.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "archive/Stacker.h"
#include "archive/entry_header.h"
#include "host/files.h"
#include "host/helpers.h"
#include "tests/faults/fault_support.h"
#include "tests/faults/heap_counter.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_folder.h"

// Set by the build when the sanitizers are on.
#ifndef SETUP_SANITIZED_BUILD
#define SETUP_SANITIZED_BUILD 0
#endif

namespace {

constexpr bool kSanitizedBuild = SETUP_SANITIZED_BUILD != 0;

using fault_testing::Bytes;
using fault_testing::ChildOutcome;
using fault_testing::Report;

constexpr int kFilesPerFolder = 1'000;
constexpr int kSmall = 10'000;
constexpr int kLarge = 100'000;

std::string FolderOf(int file) { return "C\\d" + std::to_string(file / kFilesPerFolder); }
std::string NameOf(int file) { return FolderOf(file) + "\\f" + std::to_string(file) + ".txt"; }
std::string DataOf(int file) {
  return std::string(static_cast<size_t>(1 + file % 64), static_cast<char>('a' + file % 26));
}

// A folder for a tree of 100,000 files: in memory-backed storage (tmpfs) when the system offers
// one, because creating that many files on a disk file system soon after others were deleted
// costs up to half a millisecond each here; else below the test's temporary folder.
class ScratchFolder {
 public:
  explicit ScratchFolder(const testing_support::TempFolder& fallback) {
    struct statfs info {};
    if (::statfs(kMemoryStorage, &info) == 0 && info.f_type == TMPFS_MAGIC &&
        ::access(kMemoryStorage, W_OK) == 0) {
      char pattern[] = "/dev/shm/setup-faults-XXXXXX";
      if (::mkdtemp(pattern) != nullptr) owned_ = path_ = pattern;
    }
    if (path_.empty()) path_ = fallback.Sub("scratch");
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!owned_.empty()) std::filesystem::remove_all(owned_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  static constexpr const char* kMemoryStorage = "/dev/shm";
  std::string path_;
  std::string owned_;
};

// "C", then `files` file entries of 1 to 64 bytes, 1,000 to a folder; each folder entry comes
// before its files.
Bytes ManyEntries(int files) {
  archive::MemoryArchive archive;
  archive::SeedGenerator seeds;
  const auto spec = [&seeds](const std::string& name, uint32_t attributes) {
    archive::EntrySpec entry;
    entry.name = name;
    entry.attributes = attributes;
    entry.modified = 0x52A46B2E;
    entry.seeds = seeds.Next();
    return entry;
  };
  archive.writer().AddFolder(spec("C", 0x10));
  for (int i = 0; i < files; ++i) {
    if (i % kFilesPerFolder == 0) archive.writer().AddFolder(spec(FolderOf(i), 0x10));
    archive.writer().AddFile(spec(NameOf(i), 0x20), DataOf(i));
  }
  return archive.bytes();
}

int FolderCount(int files) { return (files + kFilesPerFolder - 1) / kFilesPerFolder; }
int EntryCount(int files) { return 1 + FolderCount(files) + files; }

// The kernel's counters of this process's read calls and the bytes they returned.
struct ReadCounters {
  int64_t calls = 0;
  int64_t bytes = 0;
};

// One read call into a buffer larger than the text, so that the sample costs exactly one call and
// as many bytes as `text` holds; the caller subtracts both.
std::optional<ReadCounters> SampleReads(std::string& text) {
  const int fd = ::open("/proc/self/io", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[4096];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (got <= 0) return std::nullopt;
  text.assign(buffer, static_cast<size_t>(got));
  ReadCounters counters;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    long long value = 0;
    if (std::sscanf(line.c_str(), "rchar: %lld", &value) == 1) counters.bytes = value;
    if (std::sscanf(line.c_str(), "syscr: %lld", &value) == 1) counters.calls = value;
  }
  return counters;
}

class LargeArchiveTest : public testing_support::TempFolderTest {
 protected:
  ~LargeArchiveTest() override {
    archive::CloseArchive();
    archive::SetArchiveMemory(nullptr, 0);
  }
};

TEST_F(LargeArchiveTest, WalkReadsOneHeaderPerEntryAndNoData) {
  struct Case {
    const char* name;
    int files;
  };
  const Case cases[] = {{"10,000 files", kSmall}, {"100,000 files", kLarge}};
  archive::SetArchiveMemory(nullptr, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = temp_.Sub("many" + std::to_string(c.files) + ".pak");
    const Bytes bytes = ManyEntries(c.files);
    fault_testing::WriteBytes(file, bytes);
    const int64_t entries = EntryCount(c.files);

    std::string first_sample;
    std::string second_sample;
    const std::optional<ReadCounters> before = SampleReads(first_sample);
    if (!before) GTEST_SKIP() << "this kernel keeps no read counters in /proc/self/io";
    int64_t found = 0;
    archive::EntryHeader header{};
    for (bool more = archive::OpenArchive(file, "", header); more;
         more = archive::FindNextEntry(header)) {
      ++found;
    }
    archive::CloseArchive();
    const std::optional<ReadCounters> after = SampleReads(second_sample);
    ASSERT_TRUE(after);
    const int64_t calls = after->calls - before->calls - 1;
    const int64_t read = after->bytes - before->bytes - static_cast<int64_t>(first_sample.size());

    EXPECT_EQ(found, entries);
    // Every header is read once, whole; the data between them is jumped over.
    EXPECT_EQ(read, entries * static_cast<int64_t>(archive::kEntryHeaderSize))
        << "of an archive of " << bytes.size() << " bytes";
    EXPECT_GE(calls, entries);
    EXPECT_LE(calls, entries + 2);
    RecordProperty(std::string("reads_") + std::to_string(c.files), std::to_string(calls));
  }
}

// Folders and files below `root`, links not followed.
int CountItems(const std::string& root) {
  int count = 0;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(host::NativePath(root), error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

// Extracts every entry of the memory source in a child; reports how far its resident size and the
// heap it held through operator new rose above where they stood before the walk, beside the
// archive it already held.
ChildOutcome ExtractAllInChild(const Bytes& bytes, const std::string& target) {
  return fault_testing::RunInChild([&] {
    testing_support::RecordingUi ui;
    fault_testing::UseMemoryArchive(bytes);
    host::CreateFolderWithParents(target);
    // Free heap pages inherited from the parent would hide new allocations: hand them back, then
    // count the peak from what remains.
    malloc_trim(0);
    fault_testing::ResetPeakResident();
    const long start_kib = fault_testing::ResidentKiB();
    fault_testing::ResetPeakHeapBytes();
    const size_t start_heap = fault_testing::LiveHeapBytes();
    int64_t extracted = 0;
    bool all_ok = true;
    archive::EntryHeader header{};
    for (bool more = archive::OpenArchive("", "", header); more;
         more = archive::FindNextEntry(header)) {
      if (!archive::ExtractEntry(header, target)) {
        all_ok = false;
        break;
      }
      ++extracted;
    }
    archive::CloseArchive();
    Report report;
    report["extracted"] = std::to_string(extracted);
    report["all_ok"] = all_ok ? "yes" : "no";
    report["messages"] = std::to_string(ui.Messages().size());
    report["growth_kib"] = std::to_string(fault_testing::PeakResidentKiB() - start_kib);
    report["heap_growth"] = std::to_string(fault_testing::PeakHeapBytes() - start_heap);
    return report;
  });
}

// Every file is created anew. The tree is then removed with DeleteTree, which must manage it too.
TEST_F(LargeArchiveTest, WalkAndExtractionKeepMemoryFlat) {
  const ScratchFolder scratch(temp_);
  std::map<int, long> growth_kib;
  std::map<int, long> heap_growth;
  for (const int files : {kSmall, kLarge}) {
    SCOPED_TRACE(std::to_string(files) + " files");
    const Bytes bytes = ManyEntries(files);
    const std::string target = scratch.path() + "\\out" + std::to_string(files);

    const ChildOutcome outcome = ExtractAllInChild(bytes, target);

    ASSERT_TRUE(outcome.exited && outcome.exit_code == 0) << fault_testing::Describe(outcome);
    EXPECT_EQ(outcome.report.at("extracted"), std::to_string(EntryCount(files)));
    EXPECT_EQ(outcome.report.at("all_ok"), "yes");
    EXPECT_EQ(outcome.report.at("messages"), "0");
    EXPECT_EQ(CountItems(target), EntryCount(files));
    for (const int file : {0, files / 2 + 7, files - 1}) {
      EXPECT_EQ(testing_support::ReadWholeFile(target + "\\" + NameOf(file)),
                DataOf(file))
          << NameOf(file);
    }
    growth_kib[files] = std::stol(outcome.report.at("growth_kib"));
    heap_growth[files] = std::stol(outcome.report.at("heap_growth"));
    RecordProperty("growth_kib_" + std::to_string(files), std::to_string(growth_kib[files]));
    RecordProperty("heap_growth_" + std::to_string(files), std::to_string(heap_growth[files]));

    host::DeleteTree(target);
    EXPECT_FALSE(host::FolderExists(target));
  }
  // What the reader holds at once does not depend on how many entries came before: one byte
  // kept per entry would exceed the allowance.
  EXPECT_LE(heap_growth[kLarge], 2 * heap_growth[kSmall] + 64 * 1024)
      << "peak heap growth, 10,000 files: " << heap_growth[kSmall]
      << " bytes, 100,000 files: " << heap_growth[kLarge] << " bytes";
  if (kSanitizedBuild) {
    // The address sanitizer keeps freed blocks in quarantine, so the resident size grows with
    // the count of allocations, not with what is held; the heap count above stands alone there.
    return;
  }
  // The large archive is about 30 MB; holding a copy of it, or keeping one small heap block per
  // entry (some 40 bytes with the allocator's bookkeeping), adds more than the allowance.
  EXPECT_LE(growth_kib[kLarge], growth_kib[kSmall] * 3 / 2 + 2 * 1024)
      << "10,000 files: " << growth_kib[kSmall] << " KiB, 100,000 files: "
      << growth_kib[kLarge] << " KiB";
}

}  // namespace
