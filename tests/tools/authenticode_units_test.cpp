// The PE facts behind signature handling: where an image keeps its checksum and its certificate
// table, and the image checksum itself, on bytes worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/tools/pe_image.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/image/authenticode.h"

namespace setup_pack {
namespace {

uint32_t ChecksumInPieces(const std::vector<uint8_t>& bytes, size_t checksum_offset,
                          size_t piece) {
  PeChecksum checksum(checksum_offset);
  for (size_t at = 0; at < bytes.size(); at += piece) {
    checksum.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
  }
  return checksum.Finish();
}

TEST(PeChecksumTest, SumsWordsFoldsCarriesAndAddsTheLength) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t checksum_offset;
    uint32_t expected;
  };
  const Case cases[] = {
      // 0x0001 + 0xFFFF = 0x10000, folded to 0x0001; + 0x0002 = 0x0003; + 6 bytes.
      {"even length", {0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00}, 100, 0x0009},
      // 0x0001 + 0x0003 (the odd byte padded) = 0x0004; + 3 bytes.
      {"odd length", {0x01, 0x00, 0x03}, 100, 0x0007},
      // 0xFFFF + 0xFFFF = 0x1FFFE, folded to 0xFFFF; + 4 bytes.
      {"carry folded back", {0xFF, 0xFF, 0xFF, 0xFF}, 100, 0x10003},
      // The words at 2 and 4 are the checksum field: 0x0001 + 0x0002; + 8 bytes.
      {"checksum field counted as zero", {0x01, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x02, 0x00}, 2,
       0x000B},
      {"nothing", {}, 100, 0},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    for (size_t piece : {size_t{1}, size_t{3}, size_t{64}}) {
      SCOPED_TRACE("pieces of " + std::to_string(piece));
      EXPECT_EQ(ChecksumInPieces(row.bytes, row.checksum_offset, piece), row.expected);
    }
  }
}

TEST(ReadPeSignatureTest, FindsTheChecksumAndTheCertificateTable) {
  std::vector<uint8_t> image = pack_testing::HandMadeInstallerImage();
  const std::optional<PeSignature> unsigned_image =
      ReadPeSignature(image.data(), kPeHeadBytes, image.size());
  ASSERT_TRUE(unsigned_image.has_value());
  EXPECT_EQ(unsigned_image->checksum_offset, pack_testing::kPeChecksumOffset);
  EXPECT_EQ(unsigned_image->security_entry_offset,
            std::optional<size_t>(pack_testing::kPeSecurityEntryOffset));
  EXPECT_FALSE(unsigned_image->present());

  const size_t unsigned_size = image.size();
  const uint32_t table_size = pack_testing::AppendCertificateTable(image, 1000);
  EXPECT_EQ(table_size, 1008u);
  const std::optional<PeSignature> signed_image =
      ReadPeSignature(image.data(), kPeHeadBytes, image.size());
  ASSERT_TRUE(signed_image.has_value());
  EXPECT_TRUE(signed_image->present());
  EXPECT_EQ(signed_image->table_offset, unsigned_size);
  EXPECT_EQ(signed_image->table_size, table_size);
  EXPECT_TRUE(signed_image->at_end(image.size()));
  EXPECT_FALSE(signed_image->at_end(image.size() + 8));
}

TEST(ReadPeSignatureTest, TellsOtherFilesAndBrokenTablesApart) {
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> change;
    bool pe_image;
    bool throws;
  };
  const Case cases[] = {
      {"no MZ", [](std::vector<uint8_t>& bytes) { bytes[0] = 'X'; }, false, false},
      {"no PE signature", [](std::vector<uint8_t>& bytes) { bytes[0x41] = 'X'; }, false, false},
      {"e_lfanew beyond the file",
       [](std::vector<uint8_t>& bytes) {
         pack_testing::WriteLittleEndian32At(bytes, 0x3C, 0x7FFFFFF0);
       },
       false, false},
      {"unknown optional header magic", [](std::vector<uint8_t>& bytes) { bytes[0x58] = 0x07; },
       false, false},
      {"certificate table beyond the end",
       [](std::vector<uint8_t>& bytes) {
         pack_testing::WriteLittleEndian32At(bytes, pack_testing::kPeSecurityEntryOffset,
                                             static_cast<uint32_t>(bytes.size() - 8));
         pack_testing::WriteLittleEndian32At(bytes, pack_testing::kPeSecurityEntryOffset + 4, 16);
       },
       true, true},
      {"too few directory entries for a security entry",
       [](std::vector<uint8_t>& bytes) { pack_testing::WriteLittleEndian32At(bytes, 0xB4, 4); },
       true, false},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> image = pack_testing::HandMadeInstallerImage();
    row.change(image);
    if (row.throws) {
      EXPECT_THROW(ReadPeSignature(image.data(), kPeHeadBytes, image.size()), ToolError);
      continue;
    }
    const std::optional<PeSignature> read =
        ReadPeSignature(image.data(), kPeHeadBytes, image.size());
    EXPECT_EQ(read.has_value(), row.pe_image);
    if (read) {
      EXPECT_FALSE(read->present());
    }
  }
}

}  // namespace
}  // namespace setup_pack
