// Truncated and bit-flipped archives and installers: list, verify and extract end with a clean
// error (or a report), never crash, and write nothing outside the destination.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "archive/package_block.h"
#include "host/files.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/pack_fixture.h"
#include "tests/tools/pe_image.h"

namespace pack_testing {
namespace {

archive::EntrySpec SeededSpec(const std::string& name, uint8_t seed) {
  archive::EntrySpec spec;
  spec.name = name;
  spec.seeds = {seed, static_cast<uint8_t>(seed * 3), static_cast<uint8_t>(seed + 7), 0x5A};
  return spec;
}

const std::string kManifest = "S              D7\r\nD              Sample\r\n";
constexpr size_t kBigSize = 70'000;

std::vector<uint8_t> SamplePackage() {
  archive::MemoryArchive archive;
  archive::ArchiveWriter& w = archive.writer();
  w.AddFile(SeededSpec("id.txt", 1), kManifest);
  w.AddFolder(SeededSpec("C", 2));
  w.AddFolder(SeededSpec("C\\lib", 3));
  w.AddFile(SeededSpec("C\\lib\\big.dcu", 4), std::string(kBigSize, 'b'));
  w.AddFile(SeededSpec("C\\lib\\empty.dcu", 5), "");
  w.AddFolder(SeededSpec("S", 6));
  w.AddFile(SeededSpec("S\\Setup.ini", 7), "[Setup]\r\n");
  return archive.bytes();
}

struct Variant {
  std::string name;  // the case's name: CutAt300, Bit3OfByte1090
  std::vector<uint8_t> bytes;
};

// Case listings show the damage, not the bytes.
void PrintTo(const Variant& variant, std::ostream* out) { *out << variant.name; }

// Cuts at and around every header boundary and inside the data, and single-bit flips at fixed
// and pseudo-random places (headers' name lengths, sizes and names, and data).
std::vector<Variant> Damaged(const std::vector<uint8_t>& whole) {
  std::vector<Variant> variants;
  const size_t m = kManifest.size();
  // id.txt, C, C\lib, C\lib\big.dcu, then the entries after the big data.
  const std::vector<size_t> header_offsets = {0, 272 + m, 2 * 272 + m, 3 * 272 + m,
                                              4 * 272 + m + kBigSize};
  std::set<size_t> cuts = {1, 100, 271, whole.size() - 1, 4 * 272 + m + kBigSize / 2};
  for (const size_t offset : header_offsets) {
    for (const size_t cut : {offset, offset + 1, offset + 271, offset + 272, offset + 273}) {
      if (cut < whole.size()) cuts.insert(cut);
    }
  }
  for (const size_t cut : cuts) {
    variants.push_back({"CutAt" + std::to_string(cut),
                        std::vector<uint8_t>(whole.begin(), whole.begin() + cut)});
  }
  std::vector<std::pair<size_t, int>> flips;
  for (const size_t offset : header_offsets) {
    for (const size_t field : {size_t{4}, size_t{5}, size_t{260}, size_t{263}}) {
      flips.push_back({offset + field, static_cast<int>(field % 8)});
    }
  }
  uint32_t state = 12345;
  for (int i = 0; i < 16; ++i) {
    state = state * 1103515245u + 12345u;
    flips.push_back({(state >> 8) % whole.size(), static_cast<int>(state % 8)});
  }
  for (const auto& [position, bit] : flips) {
    std::vector<uint8_t> bytes = whole;
    bytes[position] ^= static_cast<uint8_t>(1u << bit);
    variants.push_back({"Bit" + std::to_string(bit) + "OfByte" + std::to_string(position),
                        bytes});
  }
  return variants;
}

using DamagedInputTest = PackToolTest;

// Each damaged package is a case of its own, so that the cases (about 200 runs of the tool) are
// spread over the test run's processes and shards.
class DamagedPackageTest : public PackToolTest, public testing::WithParamInterface<Variant> {};

TEST_P(DamagedPackageTest, EndsCleanlyAndWritesOnlyBelowTheDestination) {
  const Variant& variant = GetParam();
  host::CreateFolderWithParents(temp_.Sub("box"));
  WriteBytes(temp_.Sub("damaged.pak"), variant.bytes);
  const ProgramResult list = Pack({"list", Path("damaged.pak")});
  EXPECT_TRUE(list.exit_code == 0 || list.exit_code == 2) << list.err;
  EXPECT_EQ(list.exit_code == 2, list.err.find("setup-pack: error: ") != std::string::npos);

  const ProgramResult verify = Pack({"verify", Path("damaged.pak")});
  EXPECT_TRUE(verify.exit_code == 0 || verify.exit_code == 1) << verify.out << verify.err;

  // A walk that list accepts is one that extract accepts too; what it writes stays below DEST.
  const ProgramResult extract = Pack({"extract", Path("damaged.pak"), Path("box\\dest")});
  EXPECT_TRUE(extract.exit_code == 0 || extract.exit_code == 2) << extract.err;
  if (list.exit_code == 2) {
    EXPECT_EQ(extract.exit_code, 2);
  }
  for (const std::string& name : FolderNames(temp_.Sub("box"))) {
    EXPECT_EQ(name, "dest");
  }
}

INSTANTIATE_TEST_SUITE_P(Damaged, DamagedPackageTest, testing::ValuesIn(Damaged(SamplePackage())),
                         [](const testing::TestParamInfo<Variant>& case_info) {
                           return case_info.param.name;
                         });

TEST_F(DamagedInputTest, TheWholePackageServesEveryCommand) {
  // The undamaged package for contrast: every command succeeds.
  host::CreateFolderWithParents(temp_.Sub("box"));
  WriteBytes(temp_.Sub("whole.pak"), SamplePackage());
  EXPECT_EQ(Pack({"list", Path("whole.pak")}).exit_code, 0);
  EXPECT_EQ(Pack({"verify", Path("whole.pak")}).exit_code, 0);
  EXPECT_EQ(Pack({"extract", Path("whole.pak"), Path("box\\whole")}).exit_code, 0);
}

TEST_F(DamagedInputTest, CutInstallerImagesAreRefused) {
  WriteBytes(temp_.Sub("package.pak"), SamplePackage());
  // A Windows program on every platform, as installers are.
  WriteBytes(temp_.Sub("template.exe"), HandMadeInstallerImage());
  ASSERT_EQ(Pack({"embed", Path("template.exe"), Path("package.pak"), Path("whole.exe")}).exit_code,
            0);
  const std::vector<uint8_t> image = ReadBytes(temp_.Sub("whole.exe"));
  const auto block = std::search(image.begin(), image.end(), std::begin(archive::kPackageMarker),
                                 std::end(archive::kPackageMarker));
  ASSERT_NE(block, image.end());
  const size_t area = static_cast<size_t>(block - image.begin()) + archive::kPackageHeadSize;
  // The file stores the archive and then the sections after the block's: cut in the archive, or
  // after it, in the last section.
  for (const size_t cut : {area + 300, area + 2 * 272 + 41 + 10, image.size() - 1}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    // Without all of its sections' data the file is no installer, and no raw archive either:
    // every command says it was cut short, and nothing is written.
    WriteBytes(temp_.Sub("cut.exe"), std::vector<uint8_t>(image.begin(), image.begin() + cut));
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"list", Path("cut.exe")}, {"verify", Path("cut.exe")},
          {"extract", Path("cut.exe"), Path("dest")}}) {
      SCOPED_TRACE(command[0]);
      const ProgramResult result = Pack(command);
      EXPECT_EQ(result.exit_code, 2) << result.out;
      EXPECT_NE(result.err.find("is an installer cut short: it ends " + std::to_string(cut) +
                                " bytes in"),
                std::string::npos)
          << result.err;
    }
    EXPECT_FALSE(host::FolderExists(temp_.Sub("dest")));
  }
  // Cut before its block, a Windows program is no raw archive either.
  const std::vector<uint8_t> hand_made = HandMadeInstallerImage();
  WriteBytes(temp_.Sub("head.exe"),
             std::vector<uint8_t>(hand_made.begin(), hand_made.begin() + 0x200));
  const ProgramResult head = Pack({"verify", Path("head.exe")});
  EXPECT_EQ(head.exit_code, 2) << head.out;
  EXPECT_NE(head.err.find("is a Windows program without a package block"), std::string::npos)
      << head.err;
}

}  // namespace
}  // namespace pack_testing
