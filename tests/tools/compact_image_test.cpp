// A built installer stores its package block's section only up to the end of the archive: the
// sections after it move, the headers describe the new file, and every command reads the image
// as the loader maps it (the rest of the area as zeros). An archive that fills the whole area
// still fits, and a template that is itself compact serves as well as one stored whole.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/package_block.h"
#include "archive/package_check.h"
#include "archive/settings_record.h"
#include "tests/support/temp_folder.h"
#include "tests/tools/pack_fixture.h"
#include "tests/tools/pe_image.h"

namespace pack_testing {
namespace {

constexpr size_t kAlignment = 0x200;
constexpr size_t kPackageSectionHeader = kPeSectionTableOffset + 40;
constexpr size_t kTailSectionHeader = kPeSectionTableOffset + 80;
constexpr size_t kPackageSectionData = 0x400;  // after the headers and ".data"

size_t AlignUp(size_t value) { return (value + kAlignment - 1) / kAlignment * kAlignment; }

std::vector<ModelEntry> SetupTree() {
  ModelEntry p;
  p.name = "P";
  p.is_folder = true;
  ModelEntry setup;
  setup.name = "P\\Setup.exe";
  setup.data = std::string(3000, 's');
  setup.modified = DosTime(2020, 5, 6, 7, 8, 10);
  return {p, setup};
}

// One folder and one file whose entries fill the archive area exactly.
std::vector<ModelEntry> FullTree() {
  std::vector<ModelEntry> tree = SetupTree();
  tree[1].data.assign(archive::kArchiveCapacity - 2 * 272, '\0');
  for (size_t at = 0; at < tree[1].data.size(); at += 4093) {
    tree[1].data[at] = static_cast<char>(at / 4093);
  }
  return tree;
}

class CompactImageTest : public PackToolTest {
 protected:
  void SetUp() override { WriteBytes(Path("template.exe"), HandMadeInstallerImage()); }

  // The raw archive of `tree` (made by create) and the installer embed makes of it.
  std::vector<uint8_t> Embed(const std::vector<ModelEntry>& tree, const std::string& name,
                             const std::string& template_name = "template.exe") {
    WriteTree(temp_.Sub(name), tree);
    const ProgramResult create = Pack({"create", Path(name), Path(name + ".pak")});
    EXPECT_EQ(create.exit_code, 0) << create.err;
    const ProgramResult embed = Pack({"embed", "--job", "application", Path(template_name),
                                      Path(name + ".pak"), Path(name + ".exe")});
    EXPECT_EQ(embed.exit_code, 0) << embed.err;
    return ReadBytes(Path(name + ".pak"));
  }

  // The image holds the archive in its block's section, stored up to the archive's end, and
  // every header field and the moved section agree with that.
  void ExpectCompactImage(const std::vector<uint8_t>& image, const std::vector<uint8_t>& archive) {
    const size_t raw_size = AlignUp(archive::kPackageHeadSize + archive.size());
    ASSERT_EQ(image.size(), kPackageSectionData + raw_size + kHandMadeTailSize);
    EXPECT_EQ(ReadLittleEndian32At(image, kPackageSectionHeader + 8),
              sizeof(archive::PackageBlock));
    EXPECT_EQ(ReadLittleEndian32At(image, kPackageSectionHeader + 16), raw_size);
    EXPECT_EQ(ReadLittleEndian32At(image, kTailSectionHeader + 20), kPackageSectionData + raw_size);
    EXPECT_EQ(ReadLittleEndian32At(image, kPeInitializedDataOffset),
              kAlignment + raw_size + kHandMadeTailSize);
    EXPECT_EQ(ReadLittleEndian32At(image, kPeChecksumOffset), ImageChecksum(image));

    const auto area = image.begin() + kPackageSectionData + archive::kPackageHeadSize;
    EXPECT_TRUE(std::equal(archive.begin(), archive.end(), area));
    EXPECT_TRUE(std::all_of(area + static_cast<ptrdiff_t>(archive.size()),
                            image.begin() + kPackageSectionData + raw_size,
                            [](uint8_t byte) { return byte == 0; }));
    // The section after the block's moved intact, but for the execution level that the job
    // needs (the tests build application installers).
    std::vector<uint8_t> tail = HandMadeInstallerImage();
    tail.erase(tail.begin(), tail.end() - kHandMadeTailSize);
    const std::string field = "level=\"requireAdministrator\"";
    const auto level = std::search(tail.begin(), tail.end(), field.begin(), field.end());
    ASSERT_NE(level, tail.end());
    const std::string as_invoker = "level=\"asInvoker\"           ";
    std::copy(as_invoker.begin(), as_invoker.end(), level);
    EXPECT_TRUE(std::equal(image.end() - kHandMadeTailSize, image.end(), tail.begin()))
        << "the section after the block's did not move intact";
    const archive::ArchiveCheck check = archive::StoredArchiveCheck(image.data() + 0x200);
    EXPECT_EQ(check.length, archive.size());
    EXPECT_EQ(check.crc, archive::Crc32(archive.data(), archive.size()));
  }
};

TEST_F(CompactImageTest, StoresTheArchiveAndMovesTheSectionsAfterIt) {
  const std::vector<uint8_t> archive = Embed(SetupTree(), "small");
  const std::vector<uint8_t> image = ReadBytes(Path("small.exe"));
  ExpectCompactImage(image, archive);

  // Reproducible, and a compact template (here the built installer itself) gives the same bytes
  // as the template stored whole.
  const ProgramResult again = Pack({"embed", "--job", "application", Path("small.exe"),
                                    Path("small.pak"), Path("again.exe")});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_TRUE(ReadBytes(Path("again.exe")) == image);

  // Every command reads it: list as the raw archive, verify clean, extract the files.
  const ProgramResult list = Pack({"list", Path("small.exe")});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_EQ(list.out, Pack({"list", Path("small.pak")}).out);
  const ProgramResult verify = Pack({"verify", Path("small.exe")});
  EXPECT_EQ(verify.exit_code, 0) << verify.out;
  const ProgramResult extract = Pack({"extract", Path("small.exe"), Path("out")});
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  const std::string data = SetupTree()[1].data;
  EXPECT_TRUE(ReadBytes(temp_.Sub("out\\P\\Setup.exe")) ==
              std::vector<uint8_t>(data.begin(), data.end()));
}

TEST_F(CompactImageTest, AnArchiveThatFillsTheAreaStillFits) {
  const std::vector<uint8_t> archive = Embed(FullTree(), "full");
  ASSERT_EQ(archive.size(), static_cast<size_t>(archive::kArchiveCapacity));
  const std::vector<uint8_t> image = ReadBytes(Path("full.exe"));
  ExpectCompactImage(image, archive);
  EXPECT_EQ(Pack({"verify", Path("full.exe")}).exit_code, 0);
  const ProgramResult extract = Pack({"extract", Path("full.exe"), Path("out")});
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  const std::string data = FullTree()[1].data;
  EXPECT_TRUE(ReadBytes(temp_.Sub("out\\P\\Setup.exe")) ==
              std::vector<uint8_t>(data.begin(), data.end()));

  // The full image as a template shrinks again to the small package.
  const std::vector<uint8_t> small = Embed(SetupTree(), "small", "full.exe");
  ExpectCompactImage(ReadBytes(Path("small.exe")), small);
}

TEST_F(CompactImageTest, TheManifestAsksForTheLevelTheJobNeeds) {
  WriteTree(temp_.Sub("small"), SetupTree());
  struct Case {
    const char* job;
    const char* level;
  };
  for (const Case& row : {Case{"library", "requireAdministrator"}, Case{"application", "asInvoker"}}) {
    SCOPED_TRACE(row.job);
    // Built from the template, and from an installer of the other job.
    for (const char* from : {"template.exe", "other.exe"}) {
      const std::string other_job = std::string(row.job) == "library" ? "application" : "library";
      ASSERT_EQ(Pack({"build", "--job", other_job, Path("template.exe"), Path("small"),
                      Path("other.exe")})
                    .exit_code,
                0);
      const ProgramResult build =
          Pack({"build", "--job", row.job, Path(from), Path("small"), Path("built.exe")});
      ASSERT_EQ(build.exit_code, 0) << build.err;
      const ProgramResult verify = Pack({"verify", Path("built.exe")});
      EXPECT_NE(verify.out.find(std::string("requested execution level: ") + row.level + "\n"),
                std::string::npos)
          << verify.out;
      EXPECT_EQ(verify.out.find("problem: the manifest"), std::string::npos) << verify.out;
    }
  }
  // A library installer that asks for no administrator rights is reported.
  ASSERT_EQ(Pack({"build", "--job", "library", Path("template.exe"), Path("small"),
                  Path("library.exe")})
                .exit_code,
            0);
  std::vector<uint8_t> image = ReadBytes(Path("library.exe"));
  const std::string field = "level=\"requireAdministrator\"";
  const std::string as_invoker = "level=\"asInvoker\"           ";
  const auto level = std::search(image.begin(), image.end(), field.begin(), field.end());
  ASSERT_NE(level, image.end());
  std::copy(as_invoker.begin(), as_invoker.end(), level);
  WriteBytes(Path("wrong-level.exe"), image);
  const ProgramResult verify = Pack({"verify", Path("wrong-level.exe")});
  EXPECT_EQ(verify.exit_code, 1);
  EXPECT_NE(verify.out.find("problem: the manifest asks for the execution level asInvoker; the "
                            "library package job needs requireAdministrator"),
            std::string::npos)
      << verify.out;
}

TEST_F(CompactImageTest, VerifyReportsAnArchiveThatDoesNotMatchItsCheck) {
  Embed(SetupTree(), "small");
  std::vector<uint8_t> image = ReadBytes(Path("small.exe"));
  const ProgramResult good = Pack({"verify", Path("small.exe")});
  EXPECT_EQ(good.exit_code, 0) << good.out;
  EXPECT_NE(good.out.find("archive check: 3544 bytes, CRC-32 0x"), std::string::npos) << good.out;

  // One flipped bit in the last data byte: the walk still reads every entry.
  image[kPackageSectionData + archive::kPackageHeadSize + 3543] ^= 0x01;
  WriteBytes(Path("damaged.exe"), image);
  const ProgramResult damaged = Pack({"verify", Path("damaged.exe")});
  EXPECT_EQ(damaged.exit_code, 1) << damaged.out;
  EXPECT_NE(damaged.out.find("problem: the archive does not match the check in the settings "
                             "record"),
            std::string::npos)
      << damaged.out;
}

}  // namespace
}  // namespace pack_testing
