#include "tools/setup-pack/image/pe_layout.h"

#include <algorithm>
#include <string>

#include "archive/little_endian.h"
#include "tools/setup-pack/cli/tool_error.h"

namespace setup_pack {
namespace {

constexpr size_t kNewHeaderPointer = 0x3C;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kSectionCountField = 2;         // in the COFF header
constexpr size_t kSymbolTableField = 8;          // in the COFF header
constexpr size_t kOptionalHeaderSizeField = 16;  // in the COFF header
constexpr size_t kInitializedDataField = 8;      // in the optional header
constexpr size_t kFileAlignmentField = 36;       // in the optional header
constexpr size_t kChecksumField = 64;            // in the optional header
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kPe32DirectoryCount = 92;
constexpr size_t kPe32PlusDirectoryCount = 108;
constexpr uint32_t kSecurityEntry = 4;
constexpr uint32_t kDebugEntry = 6;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kSectionHeaderSize = 40;

void RequireInHead(size_t end, size_t head_size) {
  if (end > head_size) {
    throw ToolError("the PE headers reach beyond the first " + std::to_string(head_size) +
                    " bytes of the image");
  }
}

}  // namespace

std::optional<PeLayout> ReadPeLayout(const uint8_t* head, size_t head_size) {
  using archive::ReadLittleEndian16;
  using archive::ReadLittleEndian32;
  if (head_size < kNewHeaderPointer + 4 || head[0] != 'M' || head[1] != 'Z') return std::nullopt;
  const size_t pe = ReadLittleEndian32(head + kNewHeaderPointer);
  if (pe > head_size || head_size - pe < 4 || head[pe] != 'P' || head[pe + 1] != 'E' ||
      head[pe + 2] != 0 || head[pe + 3] != 0) {
    return std::nullopt;
  }
  const size_t coff = pe + 4;
  RequireInHead(coff + kCoffHeaderSize + 2, head_size);
  const size_t optional_size = ReadLittleEndian16(head + coff + kOptionalHeaderSizeField);
  const size_t optional = coff + kCoffHeaderSize;
  const uint16_t magic = ReadLittleEndian16(head + optional);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return std::nullopt;
  const size_t count_field = magic == kPe32Magic ? kPe32DirectoryCount : kPe32PlusDirectoryCount;
  RequireInHead(optional + count_field + 4, head_size);

  PeLayout layout;
  layout.checksum_offset = optional + kChecksumField;
  layout.initialized_data_offset = optional + kInitializedDataField;
  layout.symbol_table_offset = coff + kSymbolTableField;
  layout.file_alignment = ReadLittleEndian32(head + optional + kFileAlignmentField);
  const uint32_t entries = ReadLittleEndian32(head + optional + count_field);
  const auto entry_offset = [&](uint32_t index) -> std::optional<size_t> {
    const size_t entry = optional + count_field + 4 + index * kDirectoryEntrySize;
    if (entries <= index || entry + kDirectoryEntrySize > optional + optional_size) {
      return std::nullopt;
    }
    RequireInHead(entry + kDirectoryEntrySize, head_size);
    return entry;
  };
  layout.security_entry_offset = entry_offset(kSecurityEntry);
  if (const std::optional<size_t> debug = entry_offset(kDebugEntry)) {
    layout.debug_directory_size = ReadLittleEndian32(head + *debug + 4);
  }

  const size_t table = optional + optional_size;
  const size_t count = ReadLittleEndian16(head + coff + kSectionCountField);
  RequireInHead(table + count * kSectionHeaderSize, head_size);
  for (size_t index = 0; index < count; ++index) {
    const uint8_t* const header = head + table + index * kSectionHeaderSize;
    PeSection section;
    section.header_offset = table + index * kSectionHeaderSize;
    section.virtual_size = ReadLittleEndian32(header + 8);
    section.raw_size = ReadLittleEndian32(header + 16);
    section.raw_offset = ReadLittleEndian32(header + 20);
    section.characteristics = ReadLittleEndian32(header + 36);
    layout.sections.push_back(section);
  }
  return layout;
}

std::optional<size_t> PeLayout::SectionHolding(uint64_t file_offset) const {
  for (size_t index = 0; index < sections.size(); ++index) {
    const PeSection& section = sections[index];
    if (section.raw_size != 0 && file_offset >= section.raw_offset &&
        file_offset < section.raw_end()) {
      return index;
    }
  }
  return std::nullopt;
}

uint64_t PeLayout::raw_end() const {
  uint64_t end = 0;
  for (const PeSection& section : sections) {
    if (section.raw_size != 0) end = std::max(end, section.raw_end());
  }
  return end;
}

void PeChecksum::AddByte(uint8_t byte) {
  const uint64_t position = length_++;
  // The checksum field is summed as zeros.
  const uint32_t value =
      position >= checksum_offset_ && position < checksum_offset_ + 4 ? 0u : byte;
  if (!odd_) {
    low_byte_ = value;
    odd_ = true;
    return;
  }
  sum_ += low_byte_ | (value << 8);
  odd_ = false;
}

// Whole words away from the checksum field are summed in one loop; the carries are folded back
// once, in Finish, which gives the same sum as folding after every word.
void PeChecksum::Add(const uint8_t* data, size_t size) {
  size_t at = 0;
  while (at < size) {
    const uint64_t position = length_;
    size_t words = 0;
    if (!odd_) {
      size_t room = size - at;
      if (position < checksum_offset_) {
        room = static_cast<size_t>(std::min<uint64_t>(room, checksum_offset_ - position));
      } else if (position < checksum_offset_ + 4) {
        room = 0;
      }
      words = room / 2;
    }
    if (words == 0) {
      AddByte(data[at++]);
      continue;
    }
    const uint8_t* const bytes = data + at;
    uint64_t sum = 0;
    for (size_t word = 0; word < words; ++word) {
      sum += uint32_t{bytes[2 * word]} | uint32_t{bytes[2 * word + 1]} << 8;
    }
    sum_ += sum;
    at += 2 * words;
    length_ += 2 * words;
  }
}

uint32_t PeChecksum::Finish() const {
  uint64_t sum = sum_ + (odd_ ? low_byte_ : 0);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum) + static_cast<uint32_t>(length_);
}

}  // namespace setup_pack
