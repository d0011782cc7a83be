// verify reports what would trip the installer, one problem a line, exit status 1; a sound
// package gets "OK" and 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "archive/archive_writer.h"
#include "archive/package_block.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/pack_fixture.h"

namespace pack_testing {
namespace {

using Writer = archive::ArchiveWriter;

void LibraryBase(Writer& w, const std::string& manifest) {
  w.AddFile(EntrySpecOf("id.txt"), manifest);
  w.AddFolder(EntrySpecOf("C"));
  w.AddFolder(EntrySpecOf("C\\lib"));
  w.AddFile(EntrySpecOf("C\\lib\\x.dcu"), "unit");
}

const std::string kGoodManifest = "S IDE:         D7\r\nD Folder:      Vexilor Widgets\r\n";

std::string Manifest(const std::string& s_value, const std::string& d_value) {
  return "S IDE:         " + s_value + "\r\nD Folder:      " + d_value + "\r\n";
}

using VerifyTest = PackToolTest;

TEST_F(VerifyTest, ReportsWhatWouldTripTheInstaller) {
  struct Case {
    const char* name;
    std::function<void(Writer&)> fill;
    int exit_code;
    std::string message;  // a fragment of the output
  };
  const std::string long_name(196, 'n');
  const std::vector<Case> cases = {
      {"sound library package", [](Writer& w) { LibraryBase(w, kGoodManifest); }, 0,
       "OK: 4 entries, 55 data bytes"},
      {"file at the top of its part",
       [](Writer& w) { w.AddFile(EntrySpecOf("P\\Setup.exe"), "MZ"); }, 0, "OK: 1 entries"},
      {"unknown part",
       [](Writer& w) {
         LibraryBase(w, kGoodManifest);
         w.AddFile(EntrySpecOf("X\\y.txt"), "y");
       },
       1, "entry index 4 (X\\y.txt): is outside the parts C, S and P"},
      {"file before its folder",
       [](Writer& w) {
         w.AddFolder(EntrySpecOf("S"));
         w.AddFile(EntrySpecOf("S\\bin\\tool.exe"), "MZ");
         w.AddFolder(EntrySpecOf("S\\bin"));
       },
       1, "entry index 1 (S\\bin\\tool.exe): its folder S\\bin is not made by an earlier folder"},
      {"parent made by a deeper folder entry",
       [](Writer& w) {
         w.AddFolder(EntrySpecOf("S\\bin\\x86"));
         w.AddFile(EntrySpecOf("s\\BIN\\tool.exe"), "MZ");
       },
       0, "OK: 2 entries"},
      {"two files whose names differ only in case",
       [](Writer& w) {
         w.AddFolder(EntrySpecOf("C"));
         w.AddFile(EntrySpecOf("C\\caf\xE9.txt"), "one");
         w.AddFile(EntrySpecOf("C\\CAF\xC9.TXT"), "two");
       },
       1, "a file of the same name (Windows ignores case) comes earlier"},
      {"no entries at all", [](Writer&) {}, 1, "the package holds no entries"},
      {"raw archive larger than the package block holds",
       [](Writer& w) { w.AddFile(EntrySpecOf("P\\big.bin"), std::string(19'000'000, 'b')); }, 1,
       "an installer's package block holds at most 18000000"},
      {"file named like the part",
       [](Writer& w) { w.AddFile(EntrySpecOf("C"), "not a folder"); }, 1,
       "entry index 0 (C): is a file where its part's folder should be"},
      {"file and folder of one name",
       [](Writer& w) {
         w.AddFolder(EntrySpecOf("C\\x"));
         w.AddFile(EntrySpecOf("c\\X"), "clash");
       },
       1, "entry index 1 (c\\X): a folder of the same name comes earlier"},
      {"parent component", [](Writer& w) { w.AddFile(EntrySpecOf("C\\..\\evil.txt"), "e"); }, 1,
       "the component \"..\" (dots and blanks only)"},
      {"character Windows refuses",
       [](Writer& w) { w.AddFile(EntrySpecOf("C\\what?.txt"), "?"); }, 1,
       "the character '?' (not allowed in Windows names)"},
      // The whole message is there, the NUL shown as ^@, nothing cut at it.
      {"NUL in a name",
       [](Writer& w) {
         w.AddFolder(EntrySpecOf("C"));
         w.AddFile(EntrySpecOf(std::string("C\\zero\0byte.txt", 15)), "0");
       },
       1, "(C\\zero^@byte.txt): its name holds the control character 0x00"},
      {"destination too long",
       [&long_name](Writer& w) { w.AddFile(EntrySpecOf("P\\" + long_name), "long"); }, 1,
       "would be installed at a path of 264 characters"},
      {"long D value lengthens the library parts",
       [](Writer& w) {
         LibraryBase(w, Manifest("D7", std::string(100, 'd')));
         w.AddFile(EntrySpecOf("C\\lib\\" + std::string(95, 'f')), "f");
       },
       1, "entry index 4 (C\\lib\\ffff"},
      {"id.txt as a folder", [](Writer& w) { w.AddFolder(EntrySpecOf("ID.TXT")); }, 1,
       "is a folder; the manifest id.txt must be a file"},
      {"S value not a digit", [](Writer& w) { LibraryBase(w, Manifest("DX", "Vexilor")); }, 1,
       "the manifest's S value \"DX\" is not an upper-case D or C"},
      {"S value lower case", [](Writer& w) { LibraryBase(w, Manifest("d7", "Vexilor")); }, 1,
       "S value \"d7\""},
      {"no S value", [](Writer& w) { LibraryBase(w, "D Folder:      Vexilor\r\n"); }, 1,
       "the manifest has no S value"},
      {"D value climbs out", [](Writer& w) { LibraryBase(w, Manifest("C6", "..\\Windows")); }, 1,
       "D value \"..\\Windows\" is not a relative path of plain folder names"},
      {"D value names a drive", [](Writer& w) { LibraryBase(w, Manifest("C6", "C:\\Vexilor")); },
       1, "names a drive"},
      {"D value absolute", [](Writer& w) { LibraryBase(w, Manifest("C6", "\\Vexilor")); }, 1,
       "begins with a backslash"},
      {"D value with an empty component",
       [](Writer& w) { LibraryBase(w, Manifest("C6", "Vexilor\\\\Widgets")); }, 1,
       "it holds an empty component"},
      {"negative size before the end",
       [](Writer& w) {
         archive::EntryHeader header{};
         archive::SetEntryName(header, "C\\broken");
         header.size = -5;
         w.AddRawHeader(header);
         w.AddFile(EntrySpecOf("C\\after.txt"), "after");
       },
       1, "at entry index 0 at byte offset 0: the header's size is negative (-5)"},
      {"size beyond the end",
       [](Writer& w) {
         w.AddFile(EntrySpecOf("C\\fine.txt"), "fine");
         archive::EntryHeader header{};
         archive::SetEntryName(header, "C\\cut.bin");
         header.size = 1000;
         w.AddRawHeader(header);
       },
       1, "cut short at entry index 1 at byte offset 276 (\"C\\cut.bin\"): its 1000 data bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    archive::MemoryArchive archive;
    c.fill(archive.writer());
    WriteBytes(temp_.Sub("package.pak"), archive.bytes());
    const ProgramResult verify = Pack({"verify", Path("package.pak")});
    EXPECT_EQ(verify.exit_code, c.exit_code) << verify.out << verify.err;
    EXPECT_NE(verify.out.find(c.message), std::string::npos) << verify.out;
  }
}

// A name holding control characters (a crafted archive; create refuses them) keeps list's one
// line and four columns per entry: they are shown as ^I, ^J, ^?.
TEST_F(VerifyTest, ListShowsControlCharactersWithoutBreakingItsColumns) {
  archive::MemoryArchive archive;
  archive.writer().AddFolder(EntrySpecOf("C"));
  archive.writer().AddFile(EntrySpecOf("C\\tab\there.txt"), "1");
  archive.writer().AddFile(EntrySpecOf("C\\line\nbreak\x7F.txt"), "22");
  WriteBytes(temp_.Sub("odd.pak"), archive.bytes());
  const ProgramResult list = Pack({"list", Path("odd.pak")});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  const std::vector<std::string> lines = Lines(list.out);
  ASSERT_EQ(lines.size(), 4u) << list.out;
  EXPECT_EQ(lines[1].substr(0, lines[1].find('\t')), "C\\tab^Ihere.txt");
  EXPECT_EQ(lines[2].substr(0, lines[2].find('\t')), "C\\line^Jbreak^?.txt");
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), '\t'), 3);
  }
}

TEST_F(VerifyTest, ChecksAnInstallerImageAndReadsTheManifestWithItsKey) {
  archive::MemoryArchive archive(0xCAFEF00D);
  LibraryBase(archive.writer(), kGoodManifest);
  WriteBytes(temp_.Sub("package.pak"), archive.bytes());
  const ProgramResult embed = Pack({"embed", "--key", "0xCAFEF00D", "--caption", "Widgets",
                                    TestImagePath(), Path("package.pak"), Path("good.exe")});
  ASSERT_EQ(embed.exit_code, 0) << embed.err;
  std::vector<uint8_t> image = ReadBytes(temp_.Sub("good.exe"));
  const auto block = std::search(image.begin(), image.end(), std::begin(archive::kPackageMarker),
                                 std::end(archive::kPackageMarker));
  ASSERT_NE(block, image.end());
  std::vector<uint8_t> long_caption = image;
  long_caption[static_cast<size_t>(block - image.begin()) + 15] = 41;
  WriteBytes(temp_.Sub("long-caption.exe"), long_caption);

  struct Case {
    const char* name;
    std::string file;
    std::vector<std::string> key_option;
    int exit_code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"stored key", "good.exe", {}, 0,
       "job: library package\nstored key: 0xCAFEF00D\ncaption: \"Widgets\"\narchive check: "},
      {"wrong key given", "good.exe", {"--key", "1"}, 1, "S value"},
      {"caption too long", "long-caption.exe", {}, 1, "the caption's length byte is 41"},
      {"raw archive with the default key", "package.pak", {}, 1, "S value"},
      {"raw archive with its key", "package.pak", {"--key", "0xcafef00d"}, 0, "OK: 4 entries"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments{"verify"};
    arguments.insert(arguments.end(), c.key_option.begin(), c.key_option.end());
    arguments.push_back(Path(c.file));
    const ProgramResult verify = Pack(arguments);
    EXPECT_EQ(verify.exit_code, c.exit_code) << verify.out << verify.err;
    EXPECT_NE(verify.out.find(c.message), std::string::npos) << verify.out;
  }
}

}  // namespace
}  // namespace pack_testing
