// Bad arguments and bad input: a clear message, exit status 2, and nothing written.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "archive/package_block.h"
#include "archive/settings_record.h"
#include "host/files.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/pack_fixture.h"

namespace pack_testing {
namespace {

class BadInputTest : public PackToolTest {
 protected:
  void SetUp() override {
    ModelEntry c;
    c.name = "C";
    c.is_folder = true;
    ModelEntry unit;
    unit.name = "C\\unit.pas";
    unit.data = "unit Widgets; end.";
    unit.modified = DosTime(2001, 2, 3, 4, 5, 6);
    ModelEntry manifest;
    manifest.name = "id.txt";
    manifest.data = "S              D7\n";
    manifest.modified = unit.modified;
    WriteTree(temp_.Sub("tree"), {c, unit, manifest});
    ASSERT_EQ(Pack({"create", Path("tree"), Path("good.pak")}).exit_code, 0);
    good_ = ReadBytes(temp_.Sub("good.pak"));
    host::CreateFolderWithParents(temp_.Sub("out"));
  }

  void MakeFile(const std::string& relative, uint64_t size) {
    const std::string path = Path(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testing_support::WriteTextFile(temp_.Sub(relative), "");
    std::filesystem::resize_file(path, size);
  }

  std::vector<uint8_t> good_;
};

TEST_F(BadInputTest, IsRefusedWithAMessageAndChangesNothing) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    std::vector<std::string> arguments;
    std::string message;
    bool posix_only = false;
  };
  // C\unit.pas is the second entry; the third (id.txt) starts after two headers and its data.
  const size_t third_header = 272 + 272 + 18;
  const std::vector<Case> cases = {
      {"create: folder missing", [] {}, {"create", Path("missing"), Path("out\\a.pak")},
       "Cannot read the folder"},
      {"create: folder is a file", [] {}, {"create", Path("good.pak"), Path("out\\a.pak")},
       "It is not a folder."},
      {"create: destination folder missing", [] {}, {"create", Path("tree"), Path("none\\a.pak")},
       "cannot write"},
      {"create: name over 255 characters",
       [this] { MakeFile("deep\\C\\" + std::string(120, 'a') + "\\" + std::string(140, 'b'), 1); },
       {"create", Path("deep"), Path("out\\a.pak")}, "an entry name holds at most 255", true},
      {"create: destination over 255 below a typical target",
       [this] {
         WriteTree(temp_.Sub("dtree"), {});
         testing_support::WriteTextFile(temp_.Sub("dtree\\id.txt"),
                                        "D              " + std::string(100, 'd') + "\n");
         MakeFile("dtree\\C\\" + std::string(100, 'f'), 1);
       },
       {"create", Path("dtree"), Path("out\\a.pak")}, "installed at a path of 261 characters"},
      {"create: file over 2 GiB", [this] { MakeFile("huge\\P\\big.bin", uint64_t{1} << 31); },
       {"create", Path("huge"), Path("out\\a.pak")}, "2 GiB", true},
      {"create: archive over 18,000,000 bytes",
       [this] {
         for (int i = 0; i < 19; ++i) MakeFile("full\\P\\part" + std::to_string(i), 1'000'000);
       },
       {"create", Path("full"), Path("out\\a.pak")},
       "would be 19005440 bytes; the package block holds at most 18000000"},
      {"create: name not in Windows-1252",
       [this] { MakeFile("utf\\C\\\xE6\x97\xA5\xE6\x9C\xAC.txt", 1); },
       {"create", Path("utf"), Path("out\\a.pak")}, "cannot be written in ANSI", true},
      {"create: name Windows refuses", [this] { MakeFile("colon\\C\\a:b.txt", 1); },
       {"create", Path("colon"), Path("out\\a.pak")}, "not allowed in Windows names", true},
      {"create: the archive written into the folder it packs, a second time",
       [this] {
         ASSERT_EQ(Pack({"create", Path("tree"), Path("tree\\C\\again.pak")}).exit_code, 0);
       },
       {"create", Path("tree"), Path("tree\\C\\again.pak")}, "is the archive being written"},
      {"create: names differing only in case",
       [this] {
         MakeFile("twins\\C\\Read.me", 1);
         MakeFile("twins\\C\\read.ME", 1);
       },
       {"create", Path("twins"), Path("out\\a.pak")}, "differ only in case", true},
      {"embed: template missing", [] {},
       {"embed", Path("missing.exe"), Path("good.pak"), Path("out\\a.exe")}, "missing.exe"},
      {"embed: caption over 40 characters", [] {},
       {"embed", "--caption", std::string(41, 'c'), TestImagePath(), Path("good.pak"),
        Path("out\\a.exe")},
       "the caption is 41 characters long"},
      {"embed: caption not in Windows-1252", [] {},
       {"embed", "--caption", "\xE6\x97\xA5", TestImagePath(), Path("good.pak"),
        Path("out\\a.exe")},
       "cannot be written in ANSI", true},
      {"embed: archive over 18,000,000 bytes", [this] { MakeFile("big.pak", 18'000'001); },
       {"embed", TestImagePath(), Path("big.pak"), Path("out\\a.exe")},
       "is 18000001 bytes; the package block holds at most 18000000"},
      {"embed: garbage archive",
       [this] { WriteBytes(temp_.Sub("garbage.pak"), std::vector<uint8_t>(1000, 0xA5)); },
       {"embed", TestImagePath(), Path("garbage.pak"), Path("out\\a.exe")},
       "is not a whole archive"},
      {"embed: archive missing", [] {},
       {"embed", TestImagePath(), Path("missing.pak"), Path("out\\a.exe")}, "missing.pak"},
      {"build: folder missing", [] {},
       {"build", TestImagePath(), Path("missing"), Path("out\\a.exe")}, "Cannot read the folder"},
      {"list: file missing", [] {}, {"list", Path("missing.pak")}, "missing.pak"},
      {"extract: a prefix no entry has", [] {},
       {"extract", "--prefix", "S", Path("good.pak"), Path("out\\dest")},
       "no entry lies below the prefix \"S\""},
      // Refused before anything of it is read: what a command holds stays bounded.
      {"list: file far larger than any installer",
       [this] { MakeFile("sparse.pak", (uint64_t{64} << 20) + 1); },
       {"list", Path("sparse.pak")}, "too large to be an archive or an installer"},
      {"verify: file missing", [] {}, {"verify", Path("missing.pak")}, "missing.pak"},
      {"list: truncated archive",
       [this] {
         WriteBytes(temp_.Sub("cut.pak"), std::vector<uint8_t>(good_.begin(), good_.end() - 10));
       },
       {"list", Path("cut.pak")},
       "cut short at entry index 2 at byte offset " + std::to_string(third_header)},
      {"extract: truncated archive",
       [this] {
         WriteBytes(temp_.Sub("cut.pak"),
                    std::vector<uint8_t>(good_.begin(), good_.begin() + third_header + 100));
       },
       {"extract", Path("cut.pak"), Path("out\\dest")},
       "only 100 of the header's 272 bytes are left; nothing was written"},
      {"extract: installer without its key",
       [this] {
         std::vector<uint8_t> image = ReadBytes(TestImagePath());
         const auto settings =
             std::search(image.begin(), image.end(), std::begin(archive::kSettingsMarker),
                         std::end(archive::kSettingsMarker));
         ASSERT_NE(settings, image.end());
         *settings ^= 0xFF;
         WriteBytes(temp_.Sub("keyless.exe"), image);
       },
       {"extract", Path("keyless.exe"), Path("out\\dest")}, "its archive key is unknown"},
      {"unknown command", [] {}, {"pack", Path("tree")}, "no command named \"pack\""},
      {"too few arguments", [] {}, {"create", Path("tree")}, "create takes 2 arguments, not 1"},
      {"option of another command", [] {}, {"list", "--key", "1", Path("good.pak")},
       "list has no option \"--key\""},
      {"key too large", [] {}, {"verify", "--key", "0x100000000", Path("good.pak")},
       "--key takes an unsigned 32-bit number"},
      {"negative key", [] {}, {"verify", "--key", "-1", Path("good.pak")},
       "--key takes an unsigned 32-bit number"},
      {"unknown job", [] {},
       {"embed", "--job", "both", TestImagePath(), Path("good.pak"), Path("out\\a.exe")},
       "--job takes \"library\" or \"application\""},
      {"option without its value", [] {}, {"create", Path("tree"), Path("out\\a.pak"), "--key"},
       "--key needs a value"},
      {"option twice", [] {},
       {"extract", "--prefix", "C", "--prefix=S", Path("good.pak"), Path("out\\dest")},
       "--prefix is given twice"},
  };
  for (const Case& c : cases) {
    if (c.posix_only && !IsPosix()) continue;
    SCOPED_TRACE(c.name);
    c.prepare();
    const ProgramResult result = Pack(c.arguments);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_NE(result.err.find("setup-pack: error: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_TRUE(FolderNames(temp_.Sub("out")).empty());
  }
}

// The output appears under its own name only, whole: the temporary file beside it has a short
// name of its own (an output name as long as the file system allows works), is new (nothing
// already there is opened), and is gone afterwards. An output name that is a link is replaced,
// never written through.
TEST_F(BadInputTest, OutputIsWrittenBesideItsNameAndNeverThroughALink) {
  struct Case {
    const char* name;
    std::string output;        // below out
    bool output_is_link;       // a link to a file outside out is there first
  };
  const Case cases[] = {
      {"an output name of 254 characters", std::string(250, 'n') + ".pak", false},
      {"an output name that is a link", "linked.pak", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = temp_.Sub("out-" + std::string(c.output_is_link ? "link" : "long"));
    ASSERT_TRUE(host::CreateFolderWithParents(out));
    const std::string outside = temp_.Sub("outside.txt");
    testing_support::WriteTextFile(outside, "stays as it is");
    if (c.output_is_link) {
      std::string why_not;
      if (!MakeLink(outside, out + "\\" + c.output, why_not)) {
        std::printf("skipped: this platform cannot make a link here: %s\n", why_not.c_str());
        continue;
      }
    }
    const ProgramResult create = Pack({"create", Path("tree"), Path(
        "out-" + std::string(c.output_is_link ? "link" : "long") + "\\" + c.output)});
    EXPECT_EQ(create.exit_code, 0) << create.err;
    EXPECT_EQ(FolderNames(out), std::vector<std::string>{c.output});
    EXPECT_EQ(ReadBytes(out + "\\" + c.output), good_);
    EXPECT_FALSE(std::filesystem::is_symlink(host::NativePath(out + "\\" + c.output)));
    EXPECT_EQ(testing_support::ReadWholeFile(outside), "stays as it is");
  }
}

TEST_F(BadInputTest, HelpExplainsEachCommandWithAnExample) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string usage;
  };
  const std::vector<Case> cases = {
      {"overview", {"--help"}, "setup-pack extract [--key K] [--prefix P] FILE DEST"},
      {"help command", {"help", "extract"}, "usage: setup-pack extract [--key K] [--prefix P]"},
      {"command option", {"extract", "--help"}, "usage: setup-pack extract [--key K] [--prefix P]"},
      {"create", {"help", "create"}, "usage: setup-pack create [--key K] DIR ARCHIVE"},
      {"embed", {"embed", "-h"}, "usage: setup-pack embed [--key K] [--job library|application]"},
      {"build", {"help", "build"}, "usage: setup-pack build [--key K] [--job library|application]"},
      {"list", {"help", "list"}, "usage: setup-pack list FILE"},
      {"verify", {"verify", "--help"}, "usage: setup-pack verify [--key K] FILE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramResult result = Pack(c.arguments);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find(c.usage), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("example:\n  setup-pack "), std::string::npos) << result.out;
  }
  const ProgramResult bare = Pack({});
  EXPECT_EQ(bare.exit_code, 2);
  EXPECT_NE(bare.err.find("setup-pack create [--key K] DIR ARCHIVE"), std::string::npos);

  // The version, as the build set it; nothing may follow the switch.
  const ProgramResult version = Pack({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "setup-pack " SETUP_PACK_VERSION "\n");
  const ProgramResult version_with_more = Pack({"--version", "list"});
  EXPECT_EQ(version_with_more.exit_code, 2);
  EXPECT_NE(version_with_more.err.find("--version takes no arguments"), std::string::npos);
}

}  // namespace
}  // namespace pack_testing
