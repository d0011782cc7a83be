// embed and build put the archive, caption, job and key into a copy of the template, and refuse a
// template whose markers are missing or not unique.
#include <algorithm>

#include <gtest/gtest.h>

#include "archive/archive_writer.h"
#include "archive/package_block.h"
#include "archive/settings_record.h"
#include "host/files.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/pack_fixture.h"

namespace pack_testing {
namespace {

const std::vector<ModelEntry>& SmallPackage() {
  static const std::vector<ModelEntry> entries = [] {
    std::vector<ModelEntry> tree;
    ModelEntry c;
    c.name = "C";
    c.is_folder = true;
    tree.push_back(c);
    ModelEntry unit;
    unit.name = "C\\unit.pas";
    unit.data = std::string(50'000, 'u') + "end.";
    unit.modified = DosTime(2004, 7, 1, 12, 0, 0);
    tree.push_back(unit);
    ModelEntry manifest;
    manifest.name = "id.txt";
    manifest.data = "S IDE:         C6\nD Folder:      Widgets\n";
    manifest.modified = DosTime(2004, 7, 1, 12, 0, 2);
    tree.push_back(manifest);
    return tree;
  }();
  return entries;
}

class EmbedTest : public PackToolTest {
 protected:
  // A raw archive of SmallPackage made with `key`, and its path.
  std::string MakeArchive(const std::string& key) {
    WriteTree(temp_.Sub("small"), SmallPackage());
    const std::string archive_path = Path("small-" + key + ".pak");
    const ProgramResult create = Pack({"create", "--key", key, Path("small"), archive_path});
    EXPECT_EQ(create.exit_code, 0) << create.err;
    return archive_path;
  }
};

TEST_F(EmbedTest, KeepsOrSetsJobKeyAndCaption) {
  // A template whose job is the application setup, made by embed itself.
  const ProgramResult application = Pack({"embed", "--job", "application", TestImagePath(),
                                          MakeArchive("0x5EC7A11E"), Path("app-template.exe")});
  ASSERT_EQ(application.exit_code, 0) << application.err;

  struct Case {
    const char* name;
    std::string template_path;
    std::vector<std::string> options;
    std::string key_for_archive;
    std::string expected_output;
  };
  const std::vector<Case> cases = {
      {"library template, defaults", TestImagePath(), {}, "0x5EC7A11E",
       "job 0\nkey 0x5EC7A11E\ncaption Testbed!\n"},
      {"job set to application", TestImagePath(), {"--job", "application"}, "0x5EC7A11E",
       "job 1\nkey 0x5EC7A11E\ncaption Testbed!\n"},
      {"application template keeps its job", Path("app-template.exe"), {}, "0x5EC7A11E",
       "job 1\nkey 0x5EC7A11E\ncaption Testbed!\n"},
      {"job set back to library", Path("app-template.exe"), {"--job", "library"}, "0x5EC7A11E",
       "job 0\nkey 0x5EC7A11E\ncaption Testbed!\n"},
      {"hexadecimal key and caption",
       TestImagePath(),
       {"--key", "0x12345678", "--caption", "Widgets for C++Builder 6"},
       "0x12345678",
       "job 0\nkey 0x12345678\ncaption Widgets for C++Builder 6\n"},
      {"decimal key, empty caption", TestImagePath(), {"--key=4294967295", "--caption="},
       "4294967295", "job 0\nkey 0xFFFFFFFF\ncaption \n"},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = Path("out-" + std::to_string(row++) + ".exe");
    std::vector<std::string> arguments{"embed"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.insert(arguments.end(), {c.template_path, MakeArchive(c.key_for_archive), out});
    const ProgramResult embed = Pack(arguments);
    ASSERT_EQ(embed.exit_code, 0) << embed.err;

    // The image reads its own settings record and package block, the manifest with the stored
    // key, and extracts the C part as the installer's pass does.
    const std::string target = temp_.Sub("installed-" + std::to_string(row));
    const ProgramResult run = RunImage(out, {"C", target});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, c.expected_output +
                           "manifest C6 Widgets\n"
                           "entry C 0\nentry C\\unit.pas 50004\nentry id.txt 41\n"
                           "extract OK\n");
    EXPECT_EQ(testing_support::ReadWholeFile(target + "\\unit.pas"), SmallPackage()[1].data);
  }
}

TEST_F(EmbedTest, WarnsWhenALibraryPackageHasNoManifest) {
  ModelEntry setup;
  setup.name = "P";
  setup.is_folder = true;
  WriteTree(temp_.Sub("tree"), {setup});
  struct Case {
    const char* name;
    std::string job;
    bool warned;
  };
  for (const Case& c : {Case{"library", "library", true}, Case{"application", "application", false}}) {
    SCOPED_TRACE(c.name);
    const ProgramResult build =
        Pack({"build", "--job", c.job, TestImagePath(), Path("tree"), Path(c.job + ".exe")});
    EXPECT_EQ(build.exit_code, 0) << build.err;
    EXPECT_EQ(build.err.find("warning: the package has no id.txt") != std::string::npos, c.warned)
        << build.err;
  }
}

std::vector<uint8_t> WithBytes(std::vector<uint8_t> image, const uint8_t* bytes, size_t size) {
  image.insert(image.end(), bytes, bytes + size);
  return image;
}

TEST_F(EmbedTest, RefusesTemplatesWithoutUniqueMarkers) {
  const std::vector<uint8_t> image = ReadBytes(TestImagePath());
  const auto settings = std::search(image.begin(), image.end(), std::begin(archive::kSettingsMarker),
                                    std::end(archive::kSettingsMarker));
  ASSERT_NE(settings, image.end());
  std::vector<uint8_t> no_settings = image;
  no_settings[static_cast<size_t>(settings - image.begin()) + 1] ^= 0xFF;
  const auto block = std::search(image.begin(), image.end(), std::begin(archive::kPackageMarker),
                                 std::end(archive::kPackageMarker));
  ASSERT_NE(block, image.end());
  const std::vector<uint8_t> cut(image.begin(), block + 1000);
  const std::string not_an_image = "MZ: no installer here";

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"no package block", std::vector<uint8_t>(not_an_image.begin(), not_an_image.end()),
       "has no package block"},
      {"package marker twice",
       WithBytes(image, std::begin(archive::kPackageMarker), archive::kMarkerFieldSize),
       "package block 2 times"},
      {"no settings record", no_settings, "has no settings record"},
      {"settings marker twice",
       WithBytes(image, std::begin(archive::kSettingsMarker), archive::kSettingsMarkerSize),
       "settings record 2 times"},
      {"package block cut short", cut, "is not whole"},
  };
  const std::string archive_path = MakeArchive("0x5EC7A11E");
  host::CreateFolderWithParents(temp_.Sub("out"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(temp_.Sub("template.exe"), c.bytes);
    for (const std::string command : {"embed", "build"}) {
      SCOPED_TRACE(command);
      const std::string input = command == "embed" ? archive_path : Path("small");
      const ProgramResult result =
          Pack({command, Path("template.exe"), input, Path("out\\installer.exe")});
      EXPECT_EQ(result.exit_code, 2);
      EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
      EXPECT_TRUE(FolderNames(temp_.Sub("out")).empty());
    }
  }
}

}  // namespace
}  // namespace pack_testing
