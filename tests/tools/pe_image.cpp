#include "tests/tools/pe_image.h"

#include "archive/archive_writer.h"
#include "archive/package_block.h"
#include "archive/settings_record.h"
#include "tools/setup-pack/image/authenticode.h"

namespace pack_testing {
namespace {

constexpr size_t kFileAlignment = 0x200;
constexpr size_t kSectionAlignment = 0x1000;
constexpr size_t kHeadersSize = 0x200;

size_t AlignUp(size_t value, size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

void Put16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

uint32_t ReadLittleEndian32At(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
         (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

void WriteLittleEndian32At(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t ImageChecksum(const std::vector<uint8_t>& bytes) {
  setup_pack::PeChecksum checksum(kPeChecksumOffset);
  checksum.Add(bytes.data(), bytes.size());
  return checksum.Finish();
}

std::vector<uint8_t> HandMadeInstallerImage() {
  struct Section {
    char name[8];
    size_t virtual_size;
    size_t raw_size;
    uint32_t characteristics;
  };
  constexpr uint32_t kInitializedReadWrite = 0xC0000040;
  constexpr uint32_t kInitializedReadOnly = 0x40000040;
  const size_t block_size = sizeof(archive::PackageBlock);
  const Section sections[kHandMadeSectionCount] = {
      {{'.', 'd', 'a', 't', 'a'}, sizeof(archive::SettingsRecord), kFileAlignment,
       kInitializedReadWrite},
      {{'.', 'p', 'a', 'c', 'k', 'a', 'g', 'e'}, block_size, AlignUp(block_size, kFileAlignment),
       kInitializedReadWrite},
      {{'.', 'r', 's', 'r', 'c'}, kHandMadeTailSize, kHandMadeTailSize, kInitializedReadOnly},
  };
  size_t raw_total = 0;
  size_t memory_total = 0;
  for (const Section& section : sections) {
    raw_total += section.raw_size;
    memory_total += AlignUp(section.virtual_size, kSectionAlignment);
  }
  std::vector<uint8_t> image(kHeadersSize + raw_total, 0);

  image[0] = 'M';
  image[1] = 'Z';
  WriteLittleEndian32At(image, 0x3C, 0x40);
  image[0x40] = 'P';
  image[0x41] = 'E';
  Put16(image, 0x44, 0x14C);   // i386
  Put16(image, 0x46, kHandMadeSectionCount);
  Put16(image, 0x54, 0xE0);    // optional header size
  Put16(image, 0x56, 0x0102);  // executable, 32-bit
  const size_t optional = 0x58;
  Put16(image, optional + 0, 0x10B);  // PE32
  WriteLittleEndian32At(image, kPeInitializedDataOffset, static_cast<uint32_t>(raw_total));
  WriteLittleEndian32At(image, optional + 16, 0x1000);   // entry point
  WriteLittleEndian32At(image, optional + 28, 0x400000);  // image base
  WriteLittleEndian32At(image, optional + 32, kSectionAlignment);
  WriteLittleEndian32At(image, optional + 36, kFileAlignment);
  Put16(image, optional + 40, 4);  // operating system version 4.0
  Put16(image, optional + 48, 4);  // subsystem version 4.0
  WriteLittleEndian32At(image, optional + 56,
                        static_cast<uint32_t>(kSectionAlignment + memory_total));
  WriteLittleEndian32At(image, optional + 60, kHeadersSize);
  Put16(image, optional + 68, 2);  // Windows GUI
  WriteLittleEndian32At(image, optional + 72, 0x100000);  // stack reserve
  WriteLittleEndian32At(image, optional + 76, 0x1000);    // stack commit
  WriteLittleEndian32At(image, optional + 80, 0x100000);  // heap reserve
  WriteLittleEndian32At(image, optional + 84, 0x1000);    // heap commit
  WriteLittleEndian32At(image, optional + 92, 16);        // directory entries

  size_t raw = kHeadersSize;
  size_t address = kSectionAlignment;
  for (size_t index = 0; index < kHandMadeSectionCount; ++index) {
    const Section& section = sections[index];
    const size_t header = kPeSectionTableOffset + index * 40;
    for (size_t i = 0; i < 8; ++i) image[header + i] = static_cast<uint8_t>(section.name[i]);
    WriteLittleEndian32At(image, header + 8, static_cast<uint32_t>(section.virtual_size));
    WriteLittleEndian32At(image, header + 12, static_cast<uint32_t>(address));
    WriteLittleEndian32At(image, header + 16, static_cast<uint32_t>(section.raw_size));
    WriteLittleEndian32At(image, header + 20, static_cast<uint32_t>(raw));
    WriteLittleEndian32At(image, header + 36, section.characteristics);
    raw += section.raw_size;
    address += AlignUp(section.virtual_size, kSectionAlignment);
  }

  size_t at = kHeadersSize;
  for (uint8_t byte : archive::kSettingsMarker) image[at++] = byte;
  WriteLittleEndian32At(image, at + 4, archive::kDefaultArchiveKey);  // job 0 (library), key
  at = kHeadersSize + kFileAlignment;
  for (uint8_t byte : archive::kPackageMarker) image[at++] = byte;
  WriteLittleEndian32At(image, at, static_cast<uint32_t>(archive::kArchiveCapacity));
  const size_t tail = image.size() - kHandMadeTailSize;
  for (size_t i = 0; i < kHandMadeTailSize; ++i) {
    image[tail + i] = static_cast<uint8_t>('a' + i % 26);
  }
  for (size_t i = 0; kHandMadeManifest[i] != 0; ++i) {
    image[tail + i] = static_cast<uint8_t>(kHandMadeManifest[i]);
  }
  WriteLittleEndian32At(image, kPeChecksumOffset, ImageChecksum(image));
  return image;
}

uint32_t AppendCertificateTable(std::vector<uint8_t>& image, size_t payload_size) {
  image.resize(AlignUp(image.size(), 8), 0);
  const size_t offset = image.size();
  const uint32_t size = static_cast<uint32_t>(AlignUp(8 + payload_size, 8));
  image.resize(offset + size, 0);
  WriteLittleEndian32At(image, offset, size);
  Put16(image, offset + 4, 0x0200);  // WIN_CERT_REVISION_2_0
  Put16(image, offset + 6, 0x0002);  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
  for (size_t i = 0; i < payload_size; ++i) image[offset + 8 + i] = static_cast<uint8_t>(0x30 + i);
  WriteLittleEndian32At(image, kPeSecurityEntryOffset, static_cast<uint32_t>(offset));
  WriteLittleEndian32At(image, kPeSecurityEntryOffset + 4, size);
  return size;
}

}  // namespace pack_testing
