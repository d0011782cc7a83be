#include "tools/setup-pack/image/authenticode.h"

#include <string>

#include "archive/little_endian.h"
#include "tools/setup-pack/cli/tool_error.h"

namespace setup_pack {
namespace {

constexpr size_t kNewHeaderPointer = 0x3C;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kOptionalHeaderSizeField = 16;  // in the COFF header
constexpr size_t kChecksumField = 64;            // in the optional header
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kPe32DirectoryCount = 92;
constexpr size_t kPe32PlusDirectoryCount = 108;
constexpr uint32_t kSecurityEntry = 4;
constexpr size_t kDirectoryEntrySize = 8;

void RequireInHead(size_t end, size_t head_size) {
  if (end > head_size) {
    throw ToolError("the PE headers reach beyond the first " + std::to_string(head_size) +
                    " bytes of the image");
  }
}

}  // namespace

std::optional<PeSignature> ReadPeSignature(const uint8_t* head, size_t head_size,
                                           uint64_t file_size) {
  if (head_size < kNewHeaderPointer + 4 || head[0] != 'M' || head[1] != 'Z') return std::nullopt;
  const size_t pe = archive::ReadLittleEndian32(head + kNewHeaderPointer);
  if (pe > head_size || head_size - pe < 4 || head[pe] != 'P' || head[pe + 1] != 'E' ||
      head[pe + 2] != 0 || head[pe + 3] != 0) {
    return std::nullopt;
  }
  const size_t coff = pe + 4;
  RequireInHead(coff + kCoffHeaderSize + 2, head_size);
  const size_t optional_size = archive::ReadLittleEndian16(head + coff + kOptionalHeaderSizeField);
  const size_t optional = coff + kCoffHeaderSize;
  const uint16_t magic = archive::ReadLittleEndian16(head + optional);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return std::nullopt;
  const size_t count_field = magic == kPe32Magic ? kPe32DirectoryCount : kPe32PlusDirectoryCount;
  RequireInHead(optional + count_field + 4, head_size);

  PeSignature signature;
  signature.checksum_offset = optional + kChecksumField;
  const uint32_t entries = archive::ReadLittleEndian32(head + optional + count_field);
  const size_t entry = optional + count_field + 4 + kSecurityEntry * kDirectoryEntrySize;
  if (entries <= kSecurityEntry || entry + kDirectoryEntrySize > optional + optional_size) {
    return signature;
  }
  RequireInHead(entry + kDirectoryEntrySize, head_size);
  signature.security_entry_offset = entry;
  signature.table_offset = archive::ReadLittleEndian32(head + entry);
  signature.table_size = archive::ReadLittleEndian32(head + entry + 4);
  if (signature.present() && uint64_t{signature.table_offset} + signature.table_size > file_size) {
    throw ToolError("the image's certificate table (" + std::to_string(signature.table_size) +
                    " bytes at offset " + std::to_string(signature.table_offset) +
                    ") lies outside the file");
  }
  return signature;
}

void PeChecksum::AddByte(uint8_t byte) {
  const uint64_t position = length_++;
  // The checksum field is summed as zeros.
  const uint32_t value =
      position >= checksum_offset_ && position < checksum_offset_ + 4 ? 0u : byte;
  if (position % 2 == 0) {
    low_byte_ = value;
    return;
  }
  sum_ += low_byte_ | (value << 8);
  sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
  low_byte_ = 0;
}

void PeChecksum::Add(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) AddByte(data[i]);
}

uint32_t PeChecksum::Finish() const {
  uint32_t sum = sum_;
  if (length_ % 2 != 0) {
    sum += low_byte_;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + static_cast<uint32_t>(length_);
}

}  // namespace setup_pack
