// On POSIX a backslash is an ordinary character of a file name: the tool's paths keep theirs (the
// archive's own names still use it as their separator), and messages name paths with slashes only.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "archive/archive_writer.h"
#include "tests/tools/pack_fixture.h"

namespace pack_testing {
namespace {

namespace fs = std::filesystem;

using PosixPathTest = PackToolTest;

TEST_F(PosixPathTest, BackslashesInPathsAreNameCharacters) {
  const std::string root = temp_.path();
  archive::MemoryArchive archive;
  archive.writer().AddFolder(EntrySpecOf("C", 0x10));
  archive.writer().AddFile(EntrySpecOf("C\\a.txt"), "a");
  const std::string package = root + "/we\\ird.pak";
  {
    std::ofstream out(package, std::ios::binary);
    out.write(reinterpret_cast<const char*>(archive.bytes().data()),
              static_cast<std::streamsize>(archive.bytes().size()));
  }

  const ProgramResult list = Pack({"list", package});
  EXPECT_EQ(list.exit_code, 0) << list.err;
  EXPECT_NE(list.out.find("C\\a.txt"), std::string::npos) << list.out;

  const ProgramResult extract = Pack({"extract", package, root + "/o\\ut"});
  EXPECT_EQ(extract.exit_code, 0) << extract.err;
  EXPECT_TRUE(fs::is_regular_file(root + "/o\\ut/C/a.txt"));
  EXPECT_FALSE(fs::exists(root + "/o")) << "the backslash was taken for a separator";

  // create and build read a folder whose path has one, and write an output whose name has one.
  const ProgramResult create = Pack({"create", root + "/o\\ut", root + "/re\\packed.pak"});
  EXPECT_EQ(create.exit_code, 0) << create.err;
  const ProgramResult verify = Pack({"verify", root + "/re\\packed.pak"});
  EXPECT_EQ(verify.exit_code, 0) << verify.out;
  EXPECT_NE(verify.out.find("OK: 2 entries"), std::string::npos) << verify.out;
  const ProgramResult build = Pack({"build", TestImagePath(), root + "/o\\ut", root + "/in\\st"});
  EXPECT_EQ(build.exit_code, 0) << build.err;
  EXPECT_TRUE(fs::is_regular_file(root + "/in\\st"));
}

TEST_F(PosixPathTest, MessagesNamePathsWithSlashes) {
  archive::MemoryArchive archive;
  archive.writer().AddFolder(EntrySpecOf("C", 0x10));
  archive.writer().AddFile(EntrySpecOf("C\\a.txt"), "a");
  WriteBytes(temp_.Sub("package.pak"), archive.bytes());
  WriteBytes(temp_.Sub("plain.txt"), {'x'});
  // DEST below a file: the folder cannot be made.
  const ProgramResult extract =
      Pack({"extract", Path("package.pak"), Path("plain.txt") + "/dest"});
  EXPECT_EQ(extract.exit_code, 2);
  EXPECT_NE(extract.err.find(Path("plain.txt") + "/dest"), std::string::npos) << extract.err;
  EXPECT_EQ(extract.err.find('\\'), std::string::npos) << extract.err;
  const ProgramResult missing = Pack({"list", Path("missing.pak")});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_NE(missing.err.find("\"" + Path("missing.pak") + "\""), std::string::npos)
      << missing.err;
  EXPECT_EQ(missing.err.find('\\'), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace pack_testing
