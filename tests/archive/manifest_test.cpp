// The manifest reader: line splitting, the column rules, and readings through the package block
// as the installer makes them (an archive written by the project's writer, read from memory).
#include "archive/manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/entry_header.h"
#include "archive/package_rules.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_folder.h"

namespace archive {
namespace {

using testing_support::RecordingUi;
using testing_support::UiCall;

constexpr uint32_t kKey = 0x2468ACE1u;
constexpr int32_t kBlockStreamLength = 50;
// The archive area is zero bytes beyond the archive.
constexpr size_t kZeroTail = 4 * kEntryHeaderSize;

// A manifest line: the key letter and free text filling columns 1 to 15, then the value.
std::string Line(const std::string& key_and_free_text, const std::string& value) {
  std::string line = key_and_free_text;
  line.resize(15, ' ');
  return line + value;
}

struct Entry {
  std::string name;
  std::string data;
};

std::vector<uint8_t> BuildArchive(const std::vector<Entry>& entries) {
  MemoryArchive archive(kKey, kBlockStreamLength);
  SeedGenerator seeds;
  for (const Entry& entry : entries) {
    EntrySpec spec;
    spec.name = entry.name;
    spec.seeds = seeds.Next();
    archive.writer().AddFile(spec, entry.data);
  }
  return archive.bytes();
}

TEST(SplitManifestLinesTest, SplitsAtEveryKindOfLineEnd) {
  using Lines = std::vector<std::string>;
  struct Case {
    const char* name;
    std::string text;
    Lines lines;
  };
  const std::vector<Case> cases = {
      {"CR LF", "one\r\ntwo\r\n", {"one", "two"}},
      {"CR", "one\rtwo\r", {"one", "two"}},
      {"LF", "one\ntwo\n", {"one", "two"}},
      {"last line without an ending", "one\r\ntwo", {"one", "two"}},
      {"LF CR is two endings", "one\n\rtwo", {"one", "", "two"}},
      {"CR CR LF", "one\r\r\ntwo", {"one", "", "two"}},
      {"empty lines kept", "\r\n\none\r\r\n", {"", "", "one", ""}},
      {"empty text", "", {}},
      {"a lone ending", "\n", {""}},
      {"first NUL ends the text", std::string("one\r\ntw\0o\r\nthree", 16), {"one", "tw"}},
      {"NUL between CR and LF", std::string("one\r\0\ntwo", 9), {"one"}},
      {"NUL first", std::string("\0one", 4), {}},
      {"other control characters stay", "a\tb\x1a\r\n", {"a\tb\x1a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SplitManifestLines(c.text), c.lines);
  }
}

class ManifestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ManifestIdeSpec.clear();
    ManifestFolderName.clear();
    SetArchiveKey(kKey);
    SetBlockStreamLength(kBlockStreamLength);
  }
  void TearDown() override {
    SetArchiveMemory(nullptr, 0);
    ManifestIdeSpec.clear();
    ManifestFolderName.clear();
  }

  // Makes `archive`, followed by `zero_tail` zero bytes, the package block's archive area.
  void UsePackage(std::vector<uint8_t> archive, size_t zero_tail = kZeroTail) {
    package_ = std::move(archive);
    package_.resize(package_.size() + zero_tail, 0);
    SetArchiveMemory(package_.data(), static_cast<int32_t>(package_.size()));
  }
  void UseManifest(const std::string& text) { UsePackage(BuildArchive({{"id.txt", text}})); }

  void ExpectValues(const std::string& ide_spec, const std::string& folder_name) {
    EXPECT_EQ(ManifestIdeSpec, ide_spec);
    EXPECT_EQ(ManifestFolderName, folder_name);
  }

  RecordingUi ui_;
  std::vector<uint8_t> package_;
};

// A text of exactly `size` bytes: `head`, then comment lines, the last one ending at `size`.
std::string PaddedTo(const std::string& head, size_t size) {
  std::string text = head;
  while (size - text.size() > 80) text += Line("# comment", "ignored") + "\r\n";
  text += "#" + std::string(size - text.size() - 3, ' ') + "\r\n";
  return text;
}

TEST_F(ManifestTest, ReadsValuesByColumn) {
  const std::string s7 = Line("S IDE", "D7");
  const std::string d_vex = Line("D folder", "Vexilor");
  const std::string x99 = std::string(99, 'x');
  struct Case {
    const char* name;
    std::string text;
    std::string ide_spec;
    std::string folder_name;
  };
  const std::vector<Case> cases = {
      {"CR LF endings", s7 + "\r\n" + d_vex + "\r\n", "D7", "Vexilor"},
      {"CR endings", s7 + "\r" + d_vex + "\r", "D7", "Vexilor"},
      {"LF endings", s7 + "\n" + d_vex + "\n", "D7", "Vexilor"},
      {"last line without an ending", s7 + "\r\n" + d_vex, "D7", "Vexilor"},
      {"key letter and blanks only", "S" + std::string(30, ' ') + "\r\n" + d_vex, "", "Vexilor"},
      {"lines shorter than 16 characters", "S23456789012345\r\nD short", "", ""},
      {"a 16-character line", Line("S", "C") + "\r\n" + Line("D", "V"), "C", "V"},
      {"columns 2 to 15 are not read", "SD7 D7 D7 D7 D7C5", "C5", "old folder"},
      {"blanks and control characters around the value", Line("D", "\t \x01Vexilor Pro\x1f  \t"),
       "old spec", "Vexilor Pro"},
      {"characters above 127 are not blanks", Line("D", "\xA0\xE9t\xE9\xA0"), "old spec",
       "\xA0\xE9t\xE9\xA0"},
      {"value cut after its 100th character", Line("D", x99 + "yz-tail"), "old spec", x99 + "y"},
      {"cut before blanks are removed: leading blank", Line("D", " " + x99 + "END"), "old spec",
       x99},
      {"cut before blanks are removed: trailing blanks",
       Line("D", std::string(95, 'x') + "     TAIL"), "old spec", std::string(95, 'x')},
      {"lower-case keys ignored", Line("s", "D9") + "\r\n" + Line("d", "lower"), "old spec",
       "old folder"},
      {"other keys and empty lines ignored",
       "\r\n\r\n" + Line("X", "x") + "\r\n" + Line(" S", "D2") + "\r\n" + Line("#D", "y"),
       "old spec", "old folder"},
      {"last line wins",
       Line("S", "D5") + "\r\n" + Line("D", "a") + "\r\n" + s7 + "\r\n" + Line("D", "b"), "D7",
       "b"},
      {"a NUL ends the text", s7 + "\r\n" + std::string(1, '\0') + d_vex, "D7", "old folder"},
      {"a NUL inside a value", Line("D", "Vexi") + std::string(1, '\0') + "lor", "old spec",
       "Vexi"},
      {"a D line beyond the first 10,000 bytes", PaddedTo(s7 + "\r\n", 10'000) + d_vex, "D7",
       "old folder"},
      {"a value cut by the 10,000-byte limit", PaddedTo(s7 + "\r\n", 9'980) + Line("D", "Vexilor"),
       "D7", "Vexil"},
      {"an empty entry", "", "old spec", "old folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManifestIdeSpec = "old spec";
    ManifestFolderName = "old folder";
    UseManifest(c.text);
    ReadManifest();
    ExpectValues(c.ide_spec, c.folder_name);
  }
}

TEST_F(ManifestTest, FindsTheFirstEntryNamedIdTxt) {
  const std::string manifest = Line("S", "C5") + "\r\n" + Line("D", "Found");
  const std::string other = Line("S", "D1") + "\r\n" + Line("D", "Wrong");
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    const char* ide_spec;
    const char* folder_name;
  };
  const std::vector<Case> cases = {
      {"after other parts",
       {{"C\\lib\\x.dcu", other}, {"S\\Setup.exe", other}, {"id.txt", manifest}},
       "C5",
       "Found"},
      {"name in upper case", {{"ID.TXT", manifest}}, "C5", "Found"},
      {"the first of two", {{"Id.Txt", manifest}, {"id.txt", other}}, "C5", "Found"},
      {"an entry below a folder of that name", {{"id.txt\\inner", manifest}}, "C5", "Found"},
      {"not below a part folder", {{"C\\id.txt", other}}, "old spec", "old folder"},
      {"not a longer name", {{"id.txt.bak", other}, {"id.txtx", other}}, "old spec", "old folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManifestIdeSpec = "old spec";
    ManifestFolderName = "old folder";
    UsePackage(BuildArchive(c.entries));
    ReadManifest();
    ExpectValues(c.ide_spec, c.folder_name);
  }
}

EntryHeader RawHeader(const std::string& name, int32_t size) {
  EntryHeader header{};
  SetEntryName(header, name);
  header.size = size;
  return header;
}

std::vector<uint8_t> ArchiveWithRawHeaderFirst(const EntryHeader& first, const std::string& text) {
  MemoryArchive archive(kKey, kBlockStreamLength);
  archive.writer().AddRawHeader(first);
  EntrySpec spec;
  spec.name = "id.txt";
  archive.writer().AddFile(spec, text);
  return archive.bytes();
}

TEST_F(ManifestTest, NothingFoundKeepsBothValues) {
  const std::string manifest = Line("S", "C5") + "\r\n" + Line("D", "New");
  std::vector<uint8_t> garbage(3 * kEntryHeaderSize);
  uint32_t state = 12345;
  for (uint8_t& byte : garbage) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  std::vector<uint8_t> cut_short = BuildArchive({{"id.txt", manifest}});
  cut_short.resize(kEntryHeaderSize - 1);
  struct Case {
    const char* name;
    std::vector<uint8_t> archive;
    size_t zero_tail;
  };
  const std::vector<Case> cases = {
      {"no id.txt", BuildArchive({{"C\\readme.txt", manifest}, {"S\\Setup.exe", "MZ"}}), kZeroTail},
      {"no entries at all", {}, kZeroTail},
      {"an empty archive area", {}, 0},
      {"garbage", garbage, 0},
      {"a negative size before id.txt", ArchiveWithRawHeaderFirst(RawHeader("C\\a", -1), manifest),
       kZeroTail},
      {"a size beyond the archive before id.txt",
       ArchiveWithRawHeaderFirst(RawHeader("C\\a", 0x7FFFFFFF), manifest), kZeroTail},
      {"a header cut short at the end of the area", cut_short, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManifestIdeSpec = "old spec";
    ManifestFolderName = "old folder";
    UsePackage(c.archive, c.zero_tail);
    ReadManifest();
    ExpectValues("old spec", "old folder");
  }
}

TEST_F(ManifestTest, LaterReadingsKeepWhatTheirTextDoesNotSet) {
  struct Step {
    const char* name;
    std::optional<std::string> manifest;  // none: a package without id.txt
    const char* ide_spec;
    const char* folder_name;
  };
  const std::vector<Step> steps = {
      {"first reading sets both", Line("S", "D7") + "\r\n" + Line("D", "Vexilor"), "D7", "Vexilor"},
      {"second sets only S", Line("S", "C5"), "C5", "Vexilor"},
      {"third sets only D", Line("D", "Other"), "C5", "Other"},
      {"a package without a manifest", std::nullopt, "C5", "Other"},
      {"a manifest without keys", Line("X", "nothing"), "C5", "Other"},
      {"both set to empty", "S\r\nD", "", ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    if (step.manifest) {
      UseManifest(*step.manifest);
    } else {
      UsePackage(BuildArchive({{"C\\readme.txt", "x"}}));
    }
    ReadManifest();
    ExpectValues(step.ide_spec, step.folder_name);
  }
}

TEST_F(ManifestTest, BusyCursorAroundEveryReading) {
  const std::vector<UiCall> busy_around = {{UiCall::Kind::kBusyCursor, "1"},
                                           {UiCall::Kind::kBusyCursor, "0"}};
  UseManifest(Line("S", "D7"));
  ReadManifest();
  EXPECT_EQ(ui_.Calls(), busy_around);

  UsePackage(BuildArchive({{"C\\readme.txt", "x"}}));
  ReadManifest();
  std::vector<UiCall> twice = busy_around;
  twice.insert(twice.end(), busy_around.begin(), busy_around.end());
  EXPECT_EQ(ui_.Calls(), twice);
}

TEST_F(ManifestTest, ReadArchiveTextGivesTheLinesOrNone) {
  UsePackage(BuildArchive(
      {{"C\\readme.txt", "readme\r\ntext"}, {"id.txt", std::string("one\r\ntwo\0three", 14)}}));
  struct Case {
    const char* name;
    const char* entry_name;
    std::optional<StringList> lines;
  };
  const std::vector<Case> cases = {
      {"manifest, cut at the NUL", "id.txt", StringList{"one", "two"}},
      {"first entry of a part", "c", StringList{"readme", "text"}},
      {"no such entry", "S", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadArchiveText("", c.entry_name), c.lines);
  }
}

class ManifestFileTest : public ManifestTest {
 protected:
  testing_support::TempFolder temp_;
};

TEST_F(ManifestFileTest, ReadArchiveTextReadsAnArchiveFile) {
  const std::vector<uint8_t> archive =
      BuildArchive({{"id.txt", Line("S", "C4") + "\r\n" + Line("D", "FromFile")}});
  const std::string path = temp_.Sub("package.bin");
  testing_support::WriteTextFile(path, std::string(archive.begin(), archive.end()));
  EXPECT_EQ(ReadArchiveText(path, "id.txt"), (StringList{Line("S", "C4"), Line("D", "FromFile")}));
  EXPECT_EQ(ReadArchiveText(temp_.Sub("missing.bin"), "id.txt"), std::nullopt);
  const UiCall on{UiCall::Kind::kBusyCursor, "1"};
  const UiCall off{UiCall::Kind::kBusyCursor, "0"};
  EXPECT_EQ(ui_.Calls(), (std::vector<UiCall>{on, off, on, off}));
}

}  // namespace
}  // namespace archive
