// A folder packed by setup-pack and unpacked again comes back the same: bytes, dates (in DOS
// 2-second steps) and read-only bits; building is deterministic; list shows the tree.
#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include "archive/package_block.h"
#include "archive/settings_record.h"
#include "host/files.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/pack_fixture.h"
#include "tools/setup-pack/image/pe_layout.h"

namespace pack_testing {
namespace {

// The large tree is written once for the suite: creating a few thousand files is the slow part.
class RoundTripTest : public PackToolTest {
 protected:
  static void SetUpTestSuite() {
    tree_folder_ = std::make_unique<testing_support::TempFolder>();
    tree_ = LargeTree();
    WriteTree(tree_folder_->Sub("tree"), tree_);
  }
  static void TearDownTestSuite() { tree_folder_.reset(); }

  static std::string TreePath() { return host::NativePath(tree_folder_->Sub("tree")); }

  static std::unique_ptr<testing_support::TempFolder> tree_folder_;
  static std::vector<ModelEntry> tree_;
};

std::unique_ptr<testing_support::TempFolder> RoundTripTest::tree_folder_;
std::vector<ModelEntry> RoundTripTest::tree_;

TEST_F(RoundTripTest, CreateThenExtractGivesBackTheTree) {
  const std::vector<ModelEntry>& tree = tree_;

  const ProgramResult create = Pack({"create", TreePath(), Path("first.pak")});
  ASSERT_EQ(create.exit_code, 0) << create.err;
  const ProgramResult list = Pack({"list", Path("first.pak")});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  ExpectListing(list.out, tree);

  const ProgramResult extract = Pack({"extract", Path("first.pak"), Path("copy")});
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  for (const ModelEntry& entry : tree) {
    if (entry.is_folder) {
      EXPECT_TRUE(host::FolderExists(temp_.Sub("copy\\" + entry.name))) << entry.name;
    } else {
      EXPECT_EQ(testing_support::ReadWholeFile(temp_.Sub("copy\\" + entry.name)), entry.data)
          << entry.name;
    }
  }
  // Packing the copy again finds the files' dates and read-only bits as stored. (Folders take
  // the time of their extraction: the installer applies no date to them.)
  const ProgramResult again = Pack({"create", Path("copy"), Path("second.pak")});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  const ProgramResult list_again = Pack({"list", Path("second.pak")});
  ASSERT_EQ(list_again.exit_code, 0) << list_again.err;
  ExpectListing(list_again.out, tree);
}

TEST_F(RoundTripTest, BuildIsDeterministicAndCarriesTheArchiveOfCreate) {
  const std::vector<ModelEntry>& tree = tree_;

  for (const std::string out : {"one.exe", "two.exe"}) {
    const ProgramResult build = Pack({"build", TestImagePath(), TreePath(), Path(out)});
    ASSERT_EQ(build.exit_code, 0) << build.err;
  }
  const std::vector<uint8_t> one = ReadBytes(temp_.Sub("one.exe"));
  ASSERT_TRUE(one == ReadBytes(temp_.Sub("two.exe")));

  const ProgramResult list = Pack({"list", Path("one.exe")});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  ExpectListing(list.out, tree);

  // The package block's area holds exactly what create writes, then zeros.
  const ProgramResult create = Pack({"create", TreePath(), Path("tree.pak")});
  ASSERT_EQ(create.exit_code, 0) << create.err;
  const std::vector<uint8_t> archive = ReadBytes(temp_.Sub("tree.pak"));
  const std::vector<uint8_t> image = ReadBytes(TestImagePath());
  ASSERT_EQ(one.size(), image.size());
  const auto block = std::search(one.begin(), one.end(), std::begin(archive::kPackageMarker),
                                 std::end(archive::kPackageMarker));
  ASSERT_NE(block, one.end());
  const auto area = block + archive::kPackageHeadSize;
  EXPECT_TRUE(std::equal(archive.begin(), archive.end(), area));
  EXPECT_TRUE(std::all_of(area + static_cast<ptrdiff_t>(archive.size()),
                          area + archive::kArchiveCapacity, [](uint8_t b) { return b == 0; }));
  // The settings record holds the archive's length and CRC-32, which the installer checks.
  const auto record = std::search(one.begin(), one.end(), std::begin(archive::kSettingsMarker),
                                  std::end(archive::kSettingsMarker));
  ASSERT_NE(record, one.end());
  const archive::ArchiveCheck check = archive::StoredArchiveCheck(&*record);
  EXPECT_EQ(check.length, archive.size());
  EXPECT_EQ(check.crc, archive::Crc32(archive.data(), archive.size()));
  // Without caption, job or key options nothing else differs from the template: its bytes before
  // the archive area but for the checksum of a PE image (a Windows build's test image), and after
  // the area but for those two fields.
  const auto area_end = area + archive::kArchiveCapacity;
  std::vector<uint8_t> before(one.begin(), area);
  std::vector<uint8_t> template_before(image.begin(), image.begin() + (area - one.begin()));
  if (const auto pe = setup_pack::ReadPeLayout(image.data(), setup_pack::kPeHeadBytes)) {
    std::fill_n(before.begin() + static_cast<ptrdiff_t>(pe->checksum_offset), 4, 0);
    std::fill_n(template_before.begin() + static_cast<ptrdiff_t>(pe->checksum_offset), 4, 0);
  }
  EXPECT_TRUE(before == template_before);
  std::vector<uint8_t> tail(area_end, one.end());
  const size_t fields = static_cast<size_t>(record - area_end) +
                        offsetof(archive::SettingsRecord, archive_length);
  std::fill(tail.begin() + static_cast<ptrdiff_t>(fields),
            tail.begin() + static_cast<ptrdiff_t>(fields + 8), 0);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), image.begin() + (area_end - one.begin())));
}

}  // namespace
}  // namespace pack_testing
