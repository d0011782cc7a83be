// The pieces of setup-pack with the most rules, tested directly: text conversion, DOS dates, the
// key option, the package rules, the archive walk's endings (in memory and from a file) and the
// search of a file for its markers.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "archive/dos_time.h"
#include "archive/little_endian.h"
#include "archive/package_block.h"
#include "archive/package_rules.h"
#include "archive/settings_record.h"
#include "host/files.h"
#include "host/windows1252.h"
#include "tests/support/temp_folder.h"
#include "tools/setup-pack/cli/command_line.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/commands/archive_walk.h"
#include "tools/setup-pack/image/package_image.h"

namespace setup_pack {
namespace {

TEST(Windows1252Test, ConvertsWhatItCanSpellAndRefusesTheRest) {
  struct Case {
    const char* name;
    std::string utf8;
    std::optional<std::string> ansi;
  };
  const std::vector<Case> cases = {
      {"ASCII", "Setup.exe", std::string("Setup.exe")},
      {"Latin-1 letter", "caf\xC3\xA9", std::string("caf\xE9")},
      {"euro sign from the 0x80 block", "\xE2\x82\xAC", std::string("\x80")},
      {"ellipsis", "\xE2\x80\xA6", std::string("\x85")},
      {"Y with diaeresis, last of the block", "\xC5\xB8", std::string("\x9F")},
      {"undefined byte kept as its C1 control", "\xC2\x81", std::string("\x81")},
      {"C1 control that the code page does not hold", "\xC2\x80", std::nullopt},
      {"CJK", "\xE6\x97\xA5", std::nullopt},
      {"four-byte sequence", "\xF0\x9F\x98\x80", std::nullopt},
      {"cut sequence", "\xC3", std::nullopt},
      {"overlong slash", "\xC0\xAF", std::nullopt},
      {"surrogate", "\xED\xA0\x80", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(host::Utf8ToWindows1252(c.utf8), c.ansi);
    if (c.ansi) {
      EXPECT_EQ(host::Windows1252ToUtf8(*c.ansi), c.utf8);
    }
  }
}

TEST(DosTimeTest, PacksClampsAndFormats) {
  struct Case {
    const char* name;
    archive::CivilTime time;
    uint32_t dos;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"first moment", {1980, 1, 1, 0, 0, 0}, 0x00210000, "1980-01-01 00:00:00"},
      {"before 1980", {1979, 12, 31, 23, 59, 59}, 0x00210000, "1980-01-01 00:00:00"},
      {"1970", {1970, 1, 1, 0, 0, 0}, 0x00210000, "1980-01-01 00:00:00"},
      {"odd second rounds down", {2003, 9, 14, 8, 30, 45}, 0x2F2E43D6, "2003-09-14 08:30:44"},
      {"last moment", {2107, 12, 31, 23, 59, 58}, 0xFF9FBF7D, "2107-12-31 23:59:58"},
      {"after 2107", {2108, 1, 1, 0, 0, 0}, 0xFF9FBF7D, "2107-12-31 23:59:58"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(archive::DosDateTimeFromCivil(c.time), c.dos);
    EXPECT_EQ(archive::FormatDosDateTime(c.dos), c.text);
  }
  EXPECT_EQ(archive::FormatDosDateTime(0), "1980-00-00 00:00:00");
}

TEST(ParseKeyTest, TakesDecimalAndHexadecimal32BitNumbers) {
  struct Case {
    const char* text;
    std::optional<uint32_t> key;
  };
  const std::vector<Case> cases = {
      {"0", 0u},           {"305419896", 0x12345678u}, {"4294967295", 0xFFFFFFFFu},
      {"0x5EC7A11E", 0x5EC7A11Eu}, {"0X5ec7a11e", 0x5EC7A11Eu}, {"0xFFFFFFFF", 0xFFFFFFFFu},
      {"", std::nullopt},  {"0x", std::nullopt},      {"-1", std::nullopt},
      {"+1", std::nullopt}, {" 1", std::nullopt},     {"12a", std::nullopt},
      {"4294967296", std::nullopt}, {"0x100000000", std::nullopt}, {"0x-1", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.key) {
      EXPECT_EQ(ParseKey(c.text), *c.key);
    } else {
      EXPECT_THROW(ParseKey(c.text), ToolError);
    }
  }
}

TEST(PackageRulesTest, ComponentsAndEscapes) {
  struct Case {
    const char* name;
    std::string component;
    bool plain;
  };
  const std::vector<Case> components = {
      {"plain", "Vexilor Widgets 2.4", true}, {"leading dot", ".hidden", true},
      {"empty", "", false},                   {"dot", ".", false},
      {"dot dot", "..", false},               {"dots and blanks", ". .", false},
      {"colon", "a:b", false},                {"question mark", "a?", false},
      {"slash", "a/b", false},                {"tab", "a\tb", false},
      {"device", "NUL", false},               {"device in lower case", "aux", false},
      {"device with an extension", "con.txt", false},
      {"device, blanks, extension", "Com1 .log", false},
      {"console input", "CONIN$", false},     {"printer port", "lpt9", false},
      {"longer than a device", "console", true}, {"port number 10", "COM10", true},
      {"device name inside", "my.nul", true}, {"dot inside", "read.me", true},
      // Windows reserves port 0 and the Windows-1252 superscripts one to three too.
      {"port number 0", "COM0", false},       {"printer port 0", "LPT0", false},
      {"superscript one", "COM\xB9", false}, {"superscript three, extension", "lpt\xB3.txt", false},
      {"superscript two after a digit", "COM1\xB2", true},
      // Windows drops a trailing dot or blank: "readme." is the file "readme".
      {"trailing dot", "readme.", false},     {"trailing blank", "readme ", false},
  };
  for (const Case& c : components) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(!archive::ComponentProblem(c.component).has_value(), c.plain);
  }
  const std::vector<Case> relative_paths = {
      {"nothing: the destination itself", "", true},
      {"nested", "lib\\x.dcu", true},
      {"slash-separated", "lib/x.dcu", true},
      {"parent", "lib\\..\\..\\x", false},
      {"parent through a slash", "lib/../../x", false},
      {"absolute", "\\x", false},
      {"absolute with a slash", "/etc/passwd", false},
      {"drive", "D:x", false},
      {"empty component", "lib\\\\x", false},
      {"trailing separator", "lib\\", false},
      {"dots and blanks", "lib\\ . \\x", false},
      {"device as the file", "lib\\nul.txt", false},
      {"device as a folder", "CON\\x", false},
      {"device through a slash", "lib/aux.c", false},
      {"folder with a trailing dot", "lib.\\x", false},
      {"file with a trailing blank", "lib\\x ", false},
  };
  for (const Case& c : relative_paths) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(!archive::EscapeProblem(c.component).has_value(), c.plain);
  }
}

// Names Windows takes for one: a to z and the accented letters of Windows-1252 fold together; the
// division sign and the sharp s have no other case.
TEST(PackageRulesTest, FoldsCaseAsWindowsComparesNames) {
  struct Case {
    const char* name;
    std::string a;
    std::string b;
    bool same;
  };
  const std::vector<Case> cases = {
      {"ASCII letters", "C\\Lib\\a.txt", "c\\LIB\\A.TXT", true},
      {"e acute", "caf\xE9", "CAF\xC9", true},
      {"s caron", "\x9A", "\x8A", true},
      {"y diaeresis", "\xFF", "\x9F", true},
      {"division sign and multiplication sign", "\xF7", "\xD7", false},
      {"sharp s keeps its form", "\xDF", "SS", false},
      {"different names", "a.txt", "b.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(archive::FoldCaseAsWindows(c.a) == archive::FoldCaseAsWindows(c.b), c.same);
  }
}

// The names written by several threads at once: only those that no other spelling reaches.
TEST(PackageRulesTest, PlainAsciiPathsHaveOneSpelling) {
  struct Case {
    const char* name;
    std::string path;
    bool plain;
  };
  const std::vector<Case> cases = {
      {"nested", "lib\\Unit1.dcu", true},
      {"blanks and punctuation inside", "my lib\\a-b_c (1)+[x]{y}!#$%&'@^,;=`.txt", true},
      {"a short name's tilde", "PROGRA~1\\x.txt", false},
      {"a letter beyond ASCII", "caf\xE9.txt", false},
      {"a control character", "a\x01.txt", false},
      {"slash-separated", "lib/x.dcu", false},
      {"a stream", "x.txt:more", false},
      {"a trailing dot", "x.txt.", false},
      {"a trailing blank", "lib \\x", false},
      {"a device", "nul.txt", false},
      {"parent", "lib\\..\\x", false},
      {"empty component", "lib\\\\x", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(archive::IsPlainAsciiPath(c.path), c.plain);
  }
}

TEST(PackageRulesTest, TypicalDestinationLength) {
  struct Case {
    const char* name;
    std::string entry;
    std::string library_folder;
    std::optional<size_t> length;
  };
  const std::vector<Case> cases = {
      {"library part, default folder", "C\\lib\\x.dcu", "", 60 + 7 + 1 + 9},
      {"part folder itself", "c", "Widgets", 60 + 7 + 1},
      {"long D value", "S\\a", std::string(100, 'd'), 60 + 100 + 1 + 1},
      {"application part ignores D", "P\\Setup.exe", "Widgets", 60 + 7 + 1 + 9},
      {"unknown part", "X\\y", "", std::nullopt},
      {"manifest", "id.txt", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(archive::TypicalDestinationLength(c.entry, c.library_folder), c.length);
  }
}

TEST(PackageRulesTest, ManifestValues) {
  struct Case {
    const char* name;
    std::string text;
    std::string ide_spec;
    std::string folder_name;
    bool ide_spec_ok;
    bool folder_ok;
  };
  const std::vector<Case> cases = {
      {"usual", "S IDE:         D7\r\nD Folder:      Vexilor Widgets  \r\n", "D7",
       "Vexilor Widgets", true, true},
      {"last line wins", "S              D5\nS              C6\n", "C6", "", true, true},
      {"short line empties", "S              D7\nS short\n", "", "", false, true},
      {"lower-case key ignored", "s              D7\nd              X\n", "", "", false, true},
      {"text after NUL ignored", std::string("S              D7\n\0D              X\n", 36), "D7",
       "", true, true},
      {"nested folder", "S              C5\nD              Vendor\\Widgets\n", "C5",
       "Vendor\\Widgets", true, true},
      {"version not a digit", "S              DX\n", "DX", "", false, true},
      {"too long", "S              D10\n", "D10", "", false, true},
      {"climbing folder", "S              D7\nD              ..\\x\n", "D7", "..\\x", true, false},
      {"drive folder", "S              D7\nD              c:\\x\n", "D7", "c:\\x", true, false},
      {"rooted folder", "S              D7\nD              \\x\n", "D7", "\\x", true, false},
      {"trailing backslash", "S              D7\nD              x\\\n", "D7", "x\\", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const archive::ManifestValues values = archive::ParseManifestText(c.text);
    const std::string ide_spec = values.ide_spec.value_or(std::string());
    const std::string folder_name = values.folder_name.value_or(std::string());
    EXPECT_EQ(ide_spec, c.ide_spec);
    EXPECT_EQ(folder_name, c.folder_name);
    EXPECT_EQ(!archive::IdeSpecProblem(ide_spec).has_value(), c.ide_spec_ok);
    EXPECT_EQ(!archive::FolderNameProblem(folder_name).has_value(), c.folder_ok);
  }
}

// Archives worked out by hand: a header of 272 zero bytes unscrambles to the header key itself,
// whose size field (key bytes 260 to 263: 0x9D 0xA1 0xA6 0xAC) is negative.
TEST(ArchiveWalkTest, TellsACleanEndFromADamagedOne) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    WalkEnd end;
    int64_t end_value;
  };
  std::vector<uint8_t> zero_header_then_data(273, 0);
  zero_header_then_data.back() = 1;
  const std::vector<Case> cases = {
      {"empty", {}, WalkEnd::kClean, 0},
      {"zeros only, as in a package block's area", std::vector<uint8_t>(1000, 0), WalkEnd::kClean,
       0},
      {"zero header with data after it", zero_header_then_data, WalkEnd::kNegativeSize,
       -1398365795},
      {"less than a header", std::vector<uint8_t>(100, 0xFF), WalkEnd::kCutHeader, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ArchiveWalk walk = WalkArchive(c.bytes.data(), c.bytes.size());
    EXPECT_TRUE(walk.entries.empty());
    EXPECT_EQ(walk.end, c.end);
    EXPECT_EQ(walk.end_value, c.end_value);
    EXPECT_EQ(walk.end_offset, 0u);
    EXPECT_EQ(walk.clean(), WalkProblem(walk, c.bytes.size()).empty());
  }
}

// The scan tests 64 positions at a time. A marker sits at every 4 KiB boundary of 2 MiB of
// random letters, in one of seven placements taken in turn (ending right at the boundary,
// crossing it, or starting on it), and one more ends the data: each must be found exactly once.
TEST(PackageImageTest, MarkerScanFindsMarkersAcrossItsSteps) {
  std::vector<uint8_t> bytes(size_t{2} << 20);
  uint32_t x = 12345;
  for (uint8_t& byte : bytes) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<uint8_t>('a' + (x >> 16) % 26);
  }
  struct Placement {
    bool package_block;
    size_t before_boundary;
  };
  const Placement placements[] = {{true, 11}, {true, 10}, {true, 1}, {true, 0},
                                  {false, 16}, {false, 15}, {false, 1}};
  MarkerOffsets expected;
  for (size_t boundary = 4096; boundary + 16 < bytes.size(); boundary += 4096) {
    const Placement& placement = placements[boundary / 4096 % 7];
    const uint8_t* marker =
        placement.package_block ? archive::kPackageMarker : archive::kSettingsMarker;
    const size_t size =
        placement.package_block ? archive::kMarkerFieldSize : archive::kSettingsMarkerSize;
    const size_t at = boundary - placement.before_boundary;
    std::copy(marker, marker + size, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    (placement.package_block ? expected.package_blocks : expected.settings_records).push_back(at);
  }
  const size_t last = bytes.size() - archive::kSettingsMarkerSize;
  std::copy(archive::kSettingsMarker, archive::kSettingsMarker + archive::kSettingsMarkerSize,
            bytes.begin() + static_cast<std::ptrdiff_t>(last));
  expected.settings_records.push_back(last);
  const MarkerOffsets found = FindMarkers(bytes.data(), bytes.size());
  EXPECT_EQ(found.package_blocks, expected.package_blocks);
  EXPECT_EQ(found.settings_records, expected.settings_records);
}

// The block is the first marker with the capacity behind it and room for the whole block; the
// markers inside its archive area are not searched for, those before and after it are.
TEST(PackageImageTest, MarkersAreSoughtOutsideTheBlocksArchiveArea) {
  const size_t block_size = sizeof(archive::PackageBlock);
  const auto place = [](std::vector<uint8_t>& bytes, size_t at, bool package_block) {
    const uint8_t* marker = package_block ? archive::kPackageMarker : archive::kSettingsMarker;
    const size_t size = package_block ? archive::kMarkerFieldSize : archive::kSettingsMarkerSize;
    std::copy(marker, marker + size, bytes.begin() + static_cast<std::ptrdiff_t>(at));
  };
  std::vector<uint8_t> image(1000 + block_size + 1000, 'x');
  place(image, 100, true);   // a marker without the capacity: no block
  place(image, 500, false);  // the settings record
  place(image, 1000, true);  // the block
  archive::WriteLittleEndian32(image.data() + 1000 + 11,
                               static_cast<uint32_t>(archive::kArchiveCapacity));
  place(image, 1000 + 56 + 5000, true);    // inside the archive area
  place(image, 1000 + 56 + 6000, false);   // inside the archive area
  place(image, 1000 + block_size + 10, false);  // after the block
  const std::optional<BlockLocation> block = FindPackageBlock(image.data(), image.size(), nullptr);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->offset, 1000u);
  EXPECT_EQ(block->stored, block_size);
  const MarkerOffsets outside = FindMarkersOutsideTheArea(image.data(), image.size(), nullptr);
  EXPECT_EQ(outside.package_blocks, (std::vector<size_t>{100, 1000}));
  EXPECT_EQ(outside.settings_records, (std::vector<size_t>{500, 1000 + block_size + 10}));
  // The same block cut one byte short is no block: then every marker counts.
  image.resize(1000 + block_size - 1);
  EXPECT_FALSE(FindPackageBlock(image.data(), image.size(), nullptr));
  EXPECT_EQ(FindMarkersOutsideTheArea(image.data(), image.size(), nullptr).package_blocks,
            (std::vector<size_t>{100, 1000, 1000 + 56 + 5000}));
}

}  // namespace
}  // namespace setup_pack
