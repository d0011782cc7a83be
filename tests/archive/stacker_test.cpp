#include "archive/Stacker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "archive/transform.h"
#include "host/files.h"
#include "tests/archive/reader_fixture.h"
#include "tests/support/platform_support.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_folder.h"

namespace archive_testing {
namespace {

using archive::EntryHeader;
using archive::EntrySpec;
using archive::MemoryArchive;
using testing_support::ReadWholeFile;

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool IsEmptyFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_empty(host::NativePath(path), error) && !error;
}

// A header the writer would never produce, followed by `data` as it stands.
Bytes RawEntry(const std::string& name, int32_t size, uint32_t attributes, const Bytes& data = {}) {
  EntryHeader header{};
  archive::SetEntryName(header, name);
  header.size = size;
  header.attributes = attributes;
  MemoryArchive raw;
  raw.writer().AddRawHeader(header);
  return Concat({raw.bytes(), data});
}

class StackerTest : public ReaderTest {
 protected:
  // An archive of files (data = the name) and folders (names ending in a backslash, stored
  // without it).
  Bytes Archive(const std::vector<std::string>& names) {
    MemoryArchive archive;
    for (const std::string& name : names) {
      if (!name.empty() && name.back() == '\\') {
        archive.writer().AddFolder(Spec(name.substr(0, name.size() - 1), 0x10));
      } else {
        archive.writer().AddFile(Spec(name), name);
      }
    }
    return archive.bytes();
  }
};

TEST_P(StackerTest, WalkFindsEntriesOfThePrefixInStoredOrder) {
  UseSource(Archive({"C\\", "C\\lib\\", "C\\lib\\x.dcu", "c\\readme.txt", "CX\\y.txt", "Cz",
                     "ID.TXT", "S\\", "S\\Setup.exe", "\xE9\\a.txt", "c"}));
  struct Case {
    const char* name;
    std::string prefix;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"empty prefix: all, and never the zero header after them",
       "",
       {"C", "C\\lib", "C\\lib\\x.dcu", "c\\readme.txt", "CX\\y.txt", "Cz", "ID.TXT", "S",
        "S\\Setup.exe", "\xE9\\a.txt", "c"}},
      {"C", "C", {"C", "C\\lib", "C\\lib\\x.dcu", "c\\readme.txt", "c"}},
      {"lower-case c", "c", {"C", "C\\lib", "C\\lib\\x.dcu", "c\\readme.txt", "c"}},
      {"C with its backslash", "C\\", {"C", "C\\lib", "C\\lib\\x.dcu", "c\\readme.txt", "c"}},
      {"two components", "c\\LIB", {"C\\lib", "C\\lib\\x.dcu"}},
      {"id.txt in another case", "id.txt", {"ID.TXT"}},
      {"S", "S", {"S", "S\\Setup.exe"}},
      {"letters beyond a-z keep their case", "\xE9", {"\xE9\\a.txt"}},
      {"upper-case e acute is another letter", "\xC9", {}},
      {"a prefix nobody carries", "P", {}},
      {"a name's beginning is not a component", "C\\li", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WalkNames(c.prefix), c.expected);
    EntryHeader header;
    EXPECT_EQ(Open(c.prefix, header), !c.expected.empty());
    archive::CloseArchive();
  }
}

TEST_P(StackerTest, NegativeSizeEndsTheWalk) {
  for (const int32_t size : {-1, std::numeric_limits<int32_t>::min()}) {
    SCOPED_TRACE(size);
    MemoryArchive before;
    before.writer().AddFile(Spec("C\\a.txt"), "first");
    MemoryArchive after;
    after.writer().AddFile(Spec("C\\b.txt"), "after the bad header");
    UseSource(Concat({before.bytes(), RawEntry("C\\bad", size, 0x20), after.bytes()}));
    EXPECT_EQ(WalkNames("C"), std::vector<std::string>{"C\\a.txt"});
  }
}

// A damaged or cut archive ends the walk; it never reads outside the source.
TEST_P(StackerTest, HeadersBeyondTheSourceEndTheWalk) {
  MemoryArchive good;
  good.writer().AddFile(Spec("C\\a.txt"), "first");
  MemoryArchive tail;
  tail.writer().AddFile(Spec("C\\b.txt"), "second");
  const Bytes huge = RawEntry("C\\huge", std::numeric_limits<int32_t>::max(), 0x20);
  const Bytes whole = Concat({good.bytes(), tail.bytes()});
  struct Case {
    const char* name;
    Bytes archive;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"size running past the end",
       Concat({good.bytes(), huge, tail.bytes()}),
       {"C\\a.txt", "C\\huge"}},
      {"cut inside the second header",
       Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(good.bytes().size()) + 100),
       {"C\\a.txt"}},
      {"folder whose size runs past the end",
       Concat({good.bytes(), RawEntry("C\\dir", std::numeric_limits<int32_t>::max(), 0x10)}),
       {"C\\a.txt", "C\\dir"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The memory area ends exactly where the archive ends: no zero padding to stop at.
    UseSource(c.archive, 0);
    EXPECT_EQ(WalkNames("C"), c.expected);
    EXPECT_EQ(WalkNames(""), c.expected);
  }
}

// An entry whose data is cut short writes what the source delivered and fails without a message.
TEST_P(StackerTest, DataCutShortFailsWithoutAMessage) {
  const Bytes data = archive_testing::RandomBytes(100'000, 5);
  MemoryArchive archive;
  archive.writer().AddFile(Spec("C\\cut.bin"), data.data(), data.size());
  struct Case {
    const char* name;
    size_t kept;  // data bytes left in the source
  };
  const Case cases[] = {
      {"no data", 0}, {"inside the first chunk", 1234}, {"inside the third chunk", 70'000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = temp_.Sub(std::string("t") + std::to_string(c.kept));
    ASSERT_TRUE(host::CreateFolderWithParents(target));
    const Bytes& whole = archive.bytes();
    UseSource(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(
                                                       archive::kEntryHeaderSize + c.kept)),
              0);
    EntryHeader header;
    ASSERT_TRUE(Open("C", header));
    EXPECT_FALSE(archive::ExtractEntry(header, target));
    EXPECT_TRUE(ui_.Messages().empty());
    EXPECT_EQ(ReadWholeFile(target + "\\cut.bin"),
              AsString(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(c.kept))));
    archive::CloseArchive();
  }
}

TEST_P(StackerTest, FolderEntriesCreateFoldersAndSkipTheirData) {
  MemoryArchive head;
  head.writer().AddFolder(Spec("C", 0x10));
  MemoryArchive tail;
  tail.writer().AddFolder(Spec("C\\sub\\deeper", 0x11));
  tail.writer().AddFile(Spec("C\\sub\\deeper\\f.txt"), "inside");
  // A folder that carries data bytes: they are skipped, never written.
  UseSource(
      Concat({head.bytes(), RawEntry("C\\sub", 5, 0x10, {'j', 'u', 'n', 'k', '!'}), tail.bytes()}));
  const std::string target = temp_.Sub("not\\there\\yet");
  ASSERT_TRUE(ExtractAll("C", target));
  EXPECT_TRUE(host::FolderExists(target));
  EXPECT_TRUE(host::FolderExists(target + "\\sub"));
  EXPECT_EQ(ReadWholeFile(target + "\\sub\\deeper\\f.txt"), "inside");
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_P(StackerTest, ExistingFileIsReplacedAndGetsDateThenAttributes) {
  struct Case {
    const char* name;
    bool existing_read_only;
    uint32_t stored_attributes;
    uint32_t modified;
  };
  const Case cases[] = {
      {"read-only over read-only", true, 0x21,
       testing_support::DosDateTime(2019, 12, 31, 23, 59, 58)},
      {"writable over read-only", true, 0x20, testing_support::DosDateTime(2004, 2, 29, 6, 30, 0)},
      {"read-only over writable", false, 0x01, testing_support::DosDateTime(1999, 7, 1, 12, 0, 2)},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = temp_.Sub("t" + std::to_string(round++));
    ASSERT_TRUE(host::CreateFolderWithParents(target));
    const std::string path = target + "\\file.txt";
    testing_support::WriteTextFile(path, "an older and longer content that must disappear");
    if (c.existing_read_only) {
      ASSERT_TRUE(host::SetAttributes(path, 0x01));
      ASSERT_TRUE(testing_support::IsReadOnly(path));
    }
    MemoryArchive archive;
    archive.writer().AddFile(Spec("C\\file.txt", c.stored_attributes, c.modified), "new");
    UseSource(archive.bytes());
    EXPECT_TRUE(ExtractAll("C", target));
    EXPECT_TRUE(ui_.Messages().empty());
    EXPECT_EQ(ReadWholeFile(path), "new");
    EXPECT_EQ(testing_support::IsReadOnly(path), (c.stored_attributes & 0x01) != 0);
    EXPECT_EQ(testing_support::LastWriteLocalDosTime(path), c.modified);
  }
}

TEST_P(StackerTest, FileThatCannotBeCreatedShowsTheErrorText) {
  const std::string target = temp_.Sub("t");
  ASSERT_TRUE(host::CreateFolderWithParents(target + "\\taken.txt"));
  MemoryArchive archive;
  archive.writer().AddFile(Spec("C\\taken.txt"), "data");
  archive.writer().AddFile(Spec("C\\next.txt"), "data");
  UseSource(archive.bytes());
  EXPECT_FALSE(ExtractAll("C", target));
  const std::vector<std::string> messages = ui_.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("taken.txt"), std::string::npos) << messages[0];
  EXPECT_TRUE(host::FolderExists(target + "\\taken.txt"));
  EXPECT_FALSE(host::FileExists(target + "\\next.txt"));
}

// A destination of up to 255 characters is written; a longer one fails with a message naming it
// and writes nothing anywhere.
TEST_P(StackerTest, DestinationPathLimit) {
  struct Case {
    const char* name;
    size_t length;
    bool folder;
    bool written;
  };
  const Case cases[] = {
      {"file at 255", 255, false, true},
      {"file at 256", 256, false, false},
      {"folder at 255", 255, true, true},
      {"folder at 256", 256, true, false},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = temp_.Sub("t" + std::to_string(round++));
    ASSERT_TRUE(host::CreateFolderWithParents(target));
    const size_t base = target.size() + 1;
    ASSERT_LT(base, c.length - 10);
    const std::string relative(c.length - base, 'n');
    const std::string destination = target + "\\" + relative;
    ASSERT_EQ(destination.size(), c.length);
    MemoryArchive archive;
    if (c.folder) {
      archive.writer().AddFolder(Spec("C\\" + relative, 0x10));
    } else {
      archive.writer().AddFile(Spec("C\\" + relative), "data");
    }
    UseSource(archive.bytes());
    const size_t messages_before = ui_.Messages().size();
    EXPECT_EQ(ExtractAll("C", target), c.written);
    const std::vector<std::string> messages = ui_.Messages();
    if (c.written) {
      EXPECT_EQ(messages.size(), messages_before);
      EXPECT_TRUE(c.folder ? host::FolderExists(destination) : host::FileExists(destination));
    } else {
      ASSERT_EQ(messages.size(), messages_before + 1);
      EXPECT_NE(messages.back().find(destination), std::string::npos) << messages.back();
      EXPECT_TRUE(IsEmptyFolder(target));
    }
  }
}

TEST_P(StackerTest, ReadEntryText) {
  struct Case {
    const char* name;
    Bytes data;
    size_t expected_length;
  };
  const Case cases[] = {
      {"25,000 bytes: the first 10,000", RandomBytes(25'000, 1), 10'000},
      {"10,001 bytes", RandomBytes(10'001, 2), 10'000},
      {"exactly 10,000 bytes", RandomBytes(10'000, 3), 10'000},
      {"1,500 bytes holding NULs", RandomBytes(1'500, 4, 7), 1'500},
      {"empty", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryArchive archive;
    archive.writer().AddFile(Spec("first.txt"), "the first entry");
    archive.writer().AddFile(Spec("id.txt"), c.data.data(), c.data.size());
    UseSource(archive.bytes());
    EntryHeader header;
    ASSERT_TRUE(Open("", header));
    ASSERT_TRUE(archive::FindNextEntry(header));
    ASSERT_EQ(archive::EntryName(header), "id.txt");
    const std::string text = archive::ReadEntryText(header);
    EXPECT_EQ(text, AsString(Bytes(c.data.begin(), c.data.begin() + static_cast<std::ptrdiff_t>(
                                                                        c.expected_length))));
    // The read position is back at 0: the next header read is the archive's first.
    ASSERT_TRUE(archive::FindNextEntry(header));
    EXPECT_EQ(archive::EntryName(header), "first.txt");
    archive::CloseArchive();
  }
}

TEST_P(StackerTest, TextReadAndExtractionGiveTheSameBytes) {
  const Bytes data = RandomBytes(9'999, 11, 13);
  MemoryArchive archive;
  archive.writer().AddFile(Spec("C\\same.bin"), data.data(), data.size());
  UseSource(archive.bytes());
  EntryHeader header;
  ASSERT_TRUE(Open("C", header));
  const std::string text = archive::ReadEntryText(header);
  archive::CloseArchive();
  const std::string target = temp_.Sub("t");
  ASSERT_TRUE(host::CreateFolderWithParents(target));
  ASSERT_TRUE(ExtractAll("C", target));
  EXPECT_EQ(ReadWholeFile(target + "\\same.bin"), text);
  EXPECT_EQ(text, AsString(data));
}

// The pieces for a caller that writes files from threads of its own: the data read whole decodes
// as the extraction's chunks do (also across the 32,768-byte chunk boundary), the walk goes on
// from where it was, and the file written from that data is the file ExtractEntry writes.
TEST_P(StackerTest, EntryDataReadWholeAndWrittenGivesTheExtractedFile) {
  const size_t sizes[] = {0, 1, 32'767, 32'768, 32'769, 100'000};
  const uint32_t modified = testing_support::DosDateTime(2020, 2, 29, 17, 4, 6);
  MemoryArchive archive(0x0BADF00D, 50);
  std::vector<Bytes> contents;
  for (const size_t size : sizes) {
    contents.push_back(RandomBytes(size, static_cast<uint32_t>(size) + 5));
    const uint32_t attributes = size == 1 ? 0x21 : 0x20;
    archive.writer().AddFile(Spec("C\\" + std::to_string(size) + ".bin", attributes, modified),
                             contents.back().data(), contents.back().size());
  }
  UseSource(archive.bytes());
  archive::SetArchiveKey(0x0BADF00D);
  archive::SetBlockStreamLength(50);
  const std::string extracted = temp_.Sub("extracted");
  const std::string written = temp_.Sub("written");
  ASSERT_TRUE(host::CreateFolderWithParents(extracted));
  ASSERT_TRUE(host::CreateFolderWithParents(written));

  EntryHeader header;
  bool found = Open("C", header);
  for (size_t i = 0; i < std::size(sizes); ++i) {
    SCOPED_TRACE(std::to_string(sizes[i]) + " bytes");
    ASSERT_TRUE(found);
    const Bytes data = archive::ReadEntryData(header);
    EXPECT_EQ(data, contents[i]);
    // The walk's position and keystream are untouched: the reader's own extraction of the same
    // entry, and the walk after it, go on as if nothing had been read.
    ASSERT_TRUE(archive::ExtractEntry(header, extracted));
    const std::string name = std::to_string(sizes[i]) + ".bin";
    EXPECT_EQ(archive::EntryDestination(header, written), written + "\\" + name);
    archive::WriteEntryFile(header, written + "\\" + name, data);
    EXPECT_EQ(ReadWholeFile(written + "\\" + name), ReadWholeFile(extracted + "\\" + name));
    EXPECT_EQ(testing_support::LastWriteLocalDosTime(written + "\\" + name), modified);
    EXPECT_EQ(testing_support::IsReadOnly(written + "\\" + name), sizes[i] == 1);
    found = archive::FindNextEntry(header);
  }
  EXPECT_FALSE(found);
  EXPECT_TRUE(ui_.Messages().empty());
}

// Data cut short by the end of the source: what there is, as the extraction would write it.
TEST_P(StackerTest, EntryDataReadWholeStopsWhereTheSourceEnds) {
  const Bytes data = RandomBytes(40'000, 3);
  MemoryArchive archive;
  archive.writer().AddFile(Spec("C\\cut.bin"), data.data(), data.size());
  const Bytes cut(archive.bytes().begin(), archive.bytes().end() - 5'000);
  UseSource(cut, cut.size());
  EntryHeader header;
  ASSERT_TRUE(Open("C", header));
  EXPECT_EQ(archive::ReadEntryData(header), Bytes(data.begin(), data.end() - 5'000));
}

TEST_P(StackerTest, EmptyEntryConsumesNoKeystream) {
  MemoryArchive archive;
  archive.writer().AddFile(Spec("C\\empty.txt"), "");
  archive.writer().AddFile(Spec("C\\b.txt"), "bytes after an empty entry");
  ASSERT_EQ(archive.bytes().size(), 2 * archive::kEntryHeaderSize + 26);
  // The second header starts right after the first.
  EntryHeader second;
  std::memcpy(&second, archive.bytes().data() + archive::kEntryHeaderSize, sizeof second);
  archive::TransformHeader(reinterpret_cast<uint8_t*>(&second));
  EXPECT_EQ(archive::EntryName(second), "C\\b.txt");
  UseSource(archive.bytes());
  const std::string target = temp_.Sub("t");
  ASSERT_TRUE(host::CreateFolderWithParents(target));
  ASSERT_TRUE(ExtractAll("C", target));
  EXPECT_TRUE(host::FileExists(target + "\\empty.txt"));
  EXPECT_EQ(ReadWholeFile(target + "\\empty.txt"), "");
  EXPECT_EQ(ReadWholeFile(target + "\\b.txt"), "bytes after an empty entry");
}

// The reader unscrambles with the key and block stream length it was given.
TEST_P(StackerTest, ReaderUsesItsKeyAndBlockStreamLength) {
  const Bytes data = RandomBytes(3'000, 21);
  MemoryArchive archive(0x0BADF00D, 50);
  archive.writer().AddFile(Spec("data.bin"), data.data(), data.size());
  UseSource(archive.bytes());
  struct Case {
    const char* name;
    uint32_t key;
    int32_t block_stream_length;
    size_t equal_prefix;  // bytes that come out right
  };
  const Case cases[] = {
      {"as written", 0x0BADF00D, 50, 3'000},
      // Block position 0 of the second block is on the keystream for both.
      {"another block stream length", 0x0BADF00D, 0, 1'001},
      // The key first reaches the keystream in its third byte.
      {"another key", 0x0BADF00E, 50, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    archive::SetArchiveKey(c.key);
    archive::SetBlockStreamLength(c.block_stream_length);
    EntryHeader header;
    ASSERT_TRUE(Open("data.bin", header));
    const std::string text = archive::ReadEntryText(header);
    archive::CloseArchive();
    ASSERT_EQ(text.size(), data.size());
    size_t agree = 0;
    while (agree < text.size() && static_cast<uint8_t>(text[agree]) == data[agree]) ++agree;
    EXPECT_EQ(agree, c.equal_prefix);
  }
}

TEST_P(StackerTest, OpenAndCloseInEveryState) {
  MemoryArchive archive;
  archive.writer().AddFile(Spec("C\\a.txt"), "a");
  UseSource(archive.bytes());
  EntryHeader header;
  archive::CloseArchive();  // nothing open yet
  EXPECT_TRUE(Open("C", header));
  archive::CloseArchive();
  archive::CloseArchive();  // twice
  EXPECT_FALSE(archive::OpenArchive(temp_.Sub("missing.bin"), "C", header));
  archive::CloseArchive();  // after a failed open
  // A file name drops the memory source until it is set again: with neither source, nothing.
  EXPECT_FALSE(archive::OpenArchive("", "C", header));
  archive::CloseArchive();
  UseSource(archive.bytes());
  EXPECT_TRUE(Open("C", header));
  archive::CloseArchive();
  EXPECT_TRUE(ui_.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Sources, StackerTest,
                         ::testing::Values(SourceKind::kMemory, SourceKind::kFile), SourceName);

// OpenArchive without a file name starts the memory position again and nothing else, and
// CloseArchive closes a file only while the file source is in use.
TEST(StackerSources, EmptyNameAndCloseTouchOnlyTheirOwnSource) {
  testing_support::TempFolder temp;
  testing_support::RecordingUi ui;
  archive::SeedGenerator seeds;
  MemoryArchive archive;
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
    archive.writer().AddFile({name, 0x20, 0x52A46B2E, seeds.Next()}, name);
  }
  const std::string file = temp.Sub("archive.bin");
  testing_support::WriteTextFile(file, AsString(archive.bytes()));
  Bytes area = archive.bytes();
  area.resize(area.size() + 4096);
  archive::SetArchiveKey(archive::kDefaultArchiveKey);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);

  EntryHeader header;
  ASSERT_TRUE(archive::OpenArchive(file, "", header));
  EXPECT_EQ(archive::EntryName(header), "a.txt");
  ASSERT_TRUE(archive::FindNextEntry(header));
  // No memory source: the open file reads on from where the walk left it.
  ASSERT_TRUE(archive::OpenArchive("", "", header));
  EXPECT_EQ(archive::EntryName(header), "c.txt");

  // The memory source in use: CloseArchive leaves the file open, and an empty name starts the
  // memory walk at its beginning.
  archive::SetArchiveMemory(area.data(), static_cast<int32_t>(area.size()));
  ASSERT_TRUE(archive::OpenArchive("", "", header));
  EXPECT_EQ(archive::EntryName(header), "a.txt");
  archive::CloseArchive();
  archive::SetArchiveMemory(nullptr, 0);
  archive::SeekArchive(0);
  ASSERT_TRUE(archive::FindNextEntry(header)) << "the file was closed under the memory source";
  EXPECT_EQ(archive::EntryName(header), "a.txt");

  // The file source in use: CloseArchive closes it, and nothing is left to read.
  archive::CloseArchive();
  EXPECT_FALSE(archive::OpenArchive("", "", header));
  EXPECT_TRUE(ui.Messages().empty());
}

// The memory source's read rule, including positions no archive would produce.
TEST(StackerMemorySource, ReadCopiesInsideTheAreaAndAlwaysAdvances) {
  Bytes area(10);
  for (size_t i = 0; i < area.size(); ++i) area[i] = static_cast<uint8_t>('a' + i);
  struct Case {
    const char* name;
    int32_t area_size;
    int64_t position;
    int32_t count;
    std::string first;   // what the first read copies
    std::string second;  // what a following 1-byte read copies
  };
  const int64_t kMax = std::numeric_limits<int64_t>::max();
  const int64_t kMin = std::numeric_limits<int64_t>::min();
  const Case cases[] = {
      {"inside", 10, 2, 3, "cde", "f"},
      {"across the end", 10, 8, 5, "ij", ""},
      {"at the end", 10, 10, 1, "", ""},
      {"before the start: nothing, yet the position moves", 10, -3, 5, "", "c"},
      {"zero count", 10, 4, 0, "", "e"},
      {"near the largest position", 10, kMax - 2, 100, "", ""},
      {"the smallest position", 10, kMin, 4, "", ""},
      {"negative area size is empty", -5, 0, 4, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    archive::SetArchiveMemory(area.data(), c.area_size);
    archive::SeekArchive(c.position);
    char buffer[128] = {};
    const int32_t copied = archive::ReadArchive(buffer, c.count);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(copied)), c.first);
    char next = 0;
    const int32_t copied_next = archive::ReadArchive(&next, 1);
    EXPECT_EQ(std::string(&next, static_cast<size_t>(copied_next)), c.second);
  }
  archive::SetArchiveMemory(nullptr, 0);
}

}  // namespace
}  // namespace archive_testing
