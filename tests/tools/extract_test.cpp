// extract writes entries as the installer's passes do, converts names to the platform's spelling,
// and refuses, before writing anything, names that would leave the destination.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "host/files.h"
#include "tests/support/platform_support.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/pack_fixture.h"

namespace pack_testing {
namespace {

using ExtractTest = PackToolTest;

TEST_F(ExtractTest, WritesAPartOrEverythingWithDatesAndAttributes) {
  const uint32_t date = DosTime(2003, 9, 14, 8, 30, 44);
  archive::MemoryArchive archive;
  archive.writer().AddFolder(EntrySpecOf("C"));
  archive.writer().AddFolder(EntrySpecOf("C\\lib"));
  archive.writer().AddFile(EntrySpecOf("C\\lib\\x.dcu", 0x01, date), std::string(40'000, 'x'));
  archive.writer().AddFile(EntrySpecOf("C\\readme.txt", 0, date), "in the same part");
  archive.writer().AddFile(EntrySpecOf("CX\\y.txt", 0, date), "another part");
  archive.writer().AddFile(EntrySpecOf("id.txt", 0, date), "S              D7\n");
  WriteBytes(temp_.Sub("package.pak"), archive.bytes());

  struct Case {
    const char* name;
    std::vector<std::string> prefix_option;
    std::string big_file;                       // where C\lib\x.dcu lands below the destination
    std::vector<std::string> expected_listing;  // of the destination packed again
  };
  const std::string x_line = "\t40000\t0x" + std::string(PlainFileAttributes() ? "00000021" : "00000001") +
                             "\t2003-09-14 08:30:44";
  const std::string plain = PlainFileAttributes() ? "0x00000020" : "0x00000000";
  const std::vector<Case> cases = {
      {"prefix c, matched without case",
       {"--prefix", "c"},
       "lib\\x.dcu",
       {"lib\\\t0\t0x00000010", "lib\\x.dcu" + x_line,
        "readme.txt\t16\t" + plain + "\t2003-09-14 08:30:44"}},
      {"every entry",
       {},
       "C\\lib\\x.dcu",
       {"C\\\t0\t0x00000010", "C\\lib\\\t0\t0x00000010", "C\\lib\\x.dcu" + x_line,
        "C\\readme.txt\t16\t" + plain + "\t2003-09-14 08:30:44", "CX\\\t0\t0x00000010",
        "CX\\y.txt\t12\t" + plain + "\t2003-09-14 08:30:44",
        "id.txt\t18\t" + plain + "\t2003-09-14 08:30:44"}},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dest = "dest-" + std::to_string(row++);
    std::vector<std::string> arguments{"extract"};
    arguments.insert(arguments.end(), c.prefix_option.begin(), c.prefix_option.end());
    arguments.insert(arguments.end(), {Path("package.pak"), Path(dest)});
    const ProgramResult extract = Pack(arguments);
    ASSERT_EQ(extract.exit_code, 0) << extract.err;
    EXPECT_EQ(testing_support::ReadWholeFile(temp_.Sub(dest + "\\" + c.big_file)),
              std::string(40'000, 'x'));

    const ProgramResult create = Pack({"create", Path(dest), Path(dest + ".pak")});
    ASSERT_EQ(create.exit_code, 0) << create.err;
    const ProgramResult list = Pack({"list", Path(dest + ".pak")});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    std::vector<std::string> lines = Lines(list.out);
    ASSERT_EQ(lines.size(), c.expected_listing.size() + 1) << list.out;
    for (size_t i = 0; i < c.expected_listing.size(); ++i) {
      EXPECT_EQ(lines[i].substr(0, c.expected_listing[i].size()), c.expected_listing[i]);
    }
  }
}

TEST_F(ExtractTest, ConvertsNamesBetweenAnsiAndThePlatform) {
  // "café" and "Ärger" in Windows-1252.
  const std::string cafe = "caf\xE9.txt";
  const std::string folder = "\xC4rger";
  host::CreateFolderWithParents(temp_.Sub("tree\\C\\" + NativeName(folder)));
  testing_support::WriteTextFile(temp_.Sub("tree\\C\\" + NativeName(folder) + "\\" + NativeName(cafe)), "au lait");

  const ProgramResult create = Pack({"create", Path("tree"), Path("names.pak")});
  ASSERT_EQ(create.exit_code, 0) << create.err;
  archive::EntryHeader header{};
  std::vector<std::string> stored;
  for (bool found = archive::OpenArchive(temp_.Sub("names.pak"), "", header); found;
       found = archive::FindNextEntry(header)) {
    stored.push_back(archive::EntryName(header));
  }
  archive::CloseArchive();
  EXPECT_EQ(stored, (std::vector<std::string>{"C", "C\\" + folder, "C\\" + folder + "\\" + cafe}));

  const ProgramResult extract = Pack({"extract", Path("names.pak"), Path("out")});
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  EXPECT_EQ(testing_support::ReadWholeFile(
                temp_.Sub("out\\C\\" + NativeName(folder) + "\\" + NativeName(cafe))),
            "au lait");
  const ProgramResult list = Pack({"list", Path("names.pak")});
  EXPECT_NE(list.out.find("C\\" + NativeName(folder) + "\\" + NativeName(cafe) + "\t7\t"),
            std::string::npos)
      << list.out;
}

TEST_F(ExtractTest, RefusesNamesThatLeaveTheDestinationOrThatWindowsCannotCreate) {
  struct Case {
    const char* name;
    std::string entry;
    std::vector<std::string> prefix_option;
    std::string shown = {};  // the name as the message shows it, when not `entry` itself
  };
  const std::vector<Case> cases = {
      {"parent component", "..\\evil.txt", {}},
      {"parent below the part", "C\\..\\..\\evil.txt", {"--prefix", "C"}},
      {"parent below the part, every entry", "C\\..\\..\\evil.txt", {}},
      {"absolute path", "\\evil.txt", {}},
      {"drive letter", "C:\\evil.txt", {}},
      {"drive letter inside the part", "C\\D:evil.txt", {"--prefix", "C"}},
      {"empty component", "C\\\\evil.txt", {"--prefix", "C"}},
      {"slash separators", "C\\sub/../../../evil.txt", {"--prefix", "C"}},
      {"dots and blanks", "C\\. .\\evil.txt", {"--prefix", "C"}},
      // Windows would write to the device, not into the destination.
      {"device name", "C\\nul.txt", {"--prefix", "C"}},
      {"device name as a folder", "C\\COM1\\evil.txt", {}},
      // Names that Windows cannot create are not written anywhere either.
      {"a character Windows refuses", "C\\what?.txt", {"--prefix", "C"}},
      {"a control character", "C\\tab\there.txt", {}, "C\\tab^Ihere.txt"},
      {"the unit separator", std::string("C\\a\x1F") + "b.txt", {}, "C\\a^_b.txt"},
  };
  host::CreateFolderWithParents(temp_.Sub("box"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    archive::MemoryArchive archive;
    archive.writer().AddFolder(EntrySpecOf("C"));
    archive.writer().AddFile(EntrySpecOf("C\\fine.txt"), "harmless");
    archive.writer().AddFile(EntrySpecOf(c.entry), "escaped");
    WriteBytes(temp_.Sub("crafted.pak"), archive.bytes());

    std::vector<std::string> arguments{"extract"};
    arguments.insert(arguments.end(), c.prefix_option.begin(), c.prefix_option.end());
    arguments.insert(arguments.end(), {Path("crafted.pak"), Path("box\\dest\\inner")});
    const ProgramResult extract = Pack(arguments);
    EXPECT_EQ(extract.exit_code, 2);
    EXPECT_NE(extract.err.find("entry index 2 (" + (c.shown.empty() ? c.entry : c.shown) + ")"),
              std::string::npos)
        << extract.err;
    EXPECT_TRUE(FolderNames(temp_.Sub("box")).empty());
  }
}

// An entry whose destination is the package itself, by its own name or through a link already in
// DEST, is refused before anything is written: writing it would truncate the file being read.
TEST_F(ExtractTest, NeverWritesOverThePackageBeingRead) {
  struct Case {
    const char* name;
    std::string entry;
    std::string link;  // made in DEST first, leading to the package; empty for none
  };
  const Case cases[] = {
      {"the package's own name in DEST", "P\\package.pak", ""},
      {"a link in DEST to the package", "P\\linked.pak", "linked.pak"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string box = temp_.Sub(std::string("box-") + (c.link.empty() ? "own" : "link"));
    ASSERT_TRUE(host::CreateFolderWithParents(box));
    archive::MemoryArchive archive;
    archive.writer().AddFolder(EntrySpecOf("P"));
    archive.writer().AddFile(EntrySpecOf("P\\first.txt"), "first");
    archive.writer().AddFile(EntrySpecOf(c.entry), "would replace the package");
    const std::string package = box + "\\package.pak";
    WriteBytes(package, archive.bytes());
    if (!c.link.empty()) {
      std::string why_not;
      if (!MakeLink(package, box + "\\" + c.link, why_not)) {
        std::printf("skipped: this platform cannot make a link here: %s\n", why_not.c_str());
        continue;
      }
    }

    const ProgramResult extract =
        Pack({"extract", "--prefix", "P", host::NativePath(package), host::NativePath(box)});
    EXPECT_EQ(extract.exit_code, 2);
    EXPECT_NE(extract.err.find("is the package being read"), std::string::npos) << extract.err;
    EXPECT_EQ(ReadBytes(package), archive.bytes());
    EXPECT_FALSE(host::FileExists(box + "\\first.txt")) << "something was written";
  }
}

// What the headers tell is checked before the first write: entries that Windows would write onto
// one another, or a file whose folder no entry makes, leave nothing on disk.
TEST_F(ExtractTest, RefusesEntriesThatCollideBeforeWritingAnything) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
    size_t refused_index;
  };
  const std::vector<Case> cases = {
      {"two files whose names differ only in case",
       {{"C", true}, {"C\\readme.txt", false}, {"C\\README.TXT", false}},
       2},
      {"a folder where a file was written",
       {{"C", true}, {"C\\lib", false}, {"C\\LIB", true}},
       2},
      {"a file whose folder no entry makes", {{"C", true}, {"C\\lib\\x.dcu", false}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    archive::MemoryArchive archive;
    for (const auto& [name, folder] : c.entries) {
      if (folder) {
        archive.writer().AddFolder(EntrySpecOf(name, 0x10));
      } else {
        archive.writer().AddFile(EntrySpecOf(name), "data of " + name);
      }
    }
    WriteBytes(temp_.Sub("colliding.pak"), archive.bytes());
    const ProgramResult extract = Pack({"extract", Path("colliding.pak"), Path("out")});
    EXPECT_EQ(extract.exit_code, 2);
    EXPECT_NE(extract.err.find("entry index " + std::to_string(c.refused_index)),
              std::string::npos)
        << extract.err;
    EXPECT_FALSE(host::FolderExists(temp_.Sub("out"))) << "something was written";
  }
}

// Links already in DEST where entries go are replaced by real folders and files, as tar does:
// nothing outside DEST is created, written, or made read-only through them.
TEST_F(ExtractTest, ReplacesLinksInTheDestinationInsteadOfFollowingThem) {
  const std::string outside = temp_.Sub("outside");
  const std::string dest = temp_.Sub("dest");
  ASSERT_TRUE(host::CreateFolderWithParents(outside + "\\folder"));
  // A real folder of DEST holds a link too: extract looks for links in the folders that exist.
  ASSERT_TRUE(host::CreateFolderWithParents(dest + "\\doc"));
  testing_support::WriteTextFile(outside + "\\target.txt", "outside, unchanged");
  struct Link {
    std::string name;    // in DEST
    std::string target;  // below outside
  };
  for (const Link& link : {Link{"lib", "folder"}, Link{"readme.txt", "target.txt"},
                           Link{"new.txt", "created.txt"}, Link{"doc\\guide.txt", "guide.txt"}}) {
    std::string why_not;
    if (!MakeLink(outside + "\\" + link.target, dest + "\\" + link.name, why_not)) {
      GTEST_SKIP() << "this platform cannot make a link here: " << why_not;
    }
  }
  archive::MemoryArchive archive;
  archive.writer().AddFolder(EntrySpecOf("C", 0x10));
  archive.writer().AddFolder(EntrySpecOf("C\\lib", 0x10));
  archive.writer().AddFile(EntrySpecOf("C\\lib\\unit.dcu"), "unit");
  archive.writer().AddFile(EntrySpecOf("C\\readme.txt", 0x01), "read me");
  archive.writer().AddFile(EntrySpecOf("C\\new.txt"), "new");
  archive.writer().AddFolder(EntrySpecOf("C\\doc", 0x10));
  archive.writer().AddFile(EntrySpecOf("C\\doc\\guide.txt"), "guide");
  WriteBytes(temp_.Sub("package.pak"), archive.bytes());

  const ProgramResult extract = Pack({"extract", "--prefix", "C", Path("package.pak"), Path("dest")});
  EXPECT_EQ(extract.exit_code, 0) << extract.err;
  EXPECT_EQ(FolderNames(outside), (std::vector<std::string>{"folder", "target.txt"}));
  EXPECT_TRUE(FolderNames(outside + "\\folder").empty());
  EXPECT_EQ(testing_support::ReadWholeFile(outside + "\\target.txt"), "outside, unchanged");
  EXPECT_FALSE(testing_support::IsReadOnly(outside + "\\target.txt"));
  for (const char* written : {"lib", "lib\\unit.dcu", "readme.txt", "new.txt", "doc\\guide.txt"}) {
    SCOPED_TRACE(written);
    EXPECT_FALSE(std::filesystem::is_symlink(host::NativePath(dest + "\\" + written)));
  }
  EXPECT_EQ(testing_support::ReadWholeFile(dest + "\\lib\\unit.dcu"), "unit");
  EXPECT_EQ(testing_support::ReadWholeFile(dest + "\\readme.txt"), "read me");
  EXPECT_EQ(testing_support::ReadWholeFile(dest + "\\doc\\guide.txt"), "guide");
}

}  // namespace
}  // namespace pack_testing
