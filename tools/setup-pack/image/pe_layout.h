// The parts of a PE image (a Windows program) that placing a package in it touches: the section
// table, the header fields that sum up the sections' file data, and the image checksum.
//
// The headers read here, by file offset:
//   0x3C                 e_lfanew, the offset of the "PE\0\0" signature
//   e_lfanew + 4         COFF file header, 20 bytes: NumberOfSections at +2,
//                        PointerToSymbolTable at +8, SizeOfOptionalHeader at +16 (16 bits)
//   e_lfanew + 24        optional header: Magic (0x10B PE32, 0x20B PE32+);
//                        SizeOfInitializedData at +8; FileAlignment at +36; CheckSum at +64;
//                        NumberOfRvaAndSizes at +92 (PE32) or +108 (PE32+), then the data
//                        directory, 8 bytes an entry (address, size)
//   optional + SizeOfOptionalHeader: the section table, 40 bytes a section: Name (8),
//                        VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData, ...,
//                        Characteristics at +36
//
// A section's memory may be larger than its file data: the loader fills the rest with zeros. An
// installer keeps its package block at the end of a section of its own, so that the file holds
// only the block's head and the archive, and the zeros that follow the archive in the block cost
// the file nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace setup_pack {

// Enough of a file's beginning to hold the headers above for any image a linker writes.
constexpr size_t kPeHeadBytes = 4096;

struct PeSection {
  size_t header_offset = 0;  // of its entry in the section table
  uint32_t virtual_size = 0;
  uint32_t raw_size = 0;
  uint32_t raw_offset = 0;
  uint32_t characteristics = 0;
  // The section's size in memory: VirtualSize, or SizeOfRawData where a linker left it 0.
  uint64_t memory_size() const { return virtual_size != 0 ? virtual_size : raw_size; }
  uint64_t raw_end() const { return uint64_t{raw_offset} + raw_size; }
};

struct PeLayout {
  size_t checksum_offset = 0;
  size_t initialized_data_offset = 0;  // the SizeOfInitializedData field
  size_t symbol_table_offset = 0;      // the PointerToSymbolTable field
  uint32_t file_alignment = 0;
  uint32_t debug_directory_size = 0;
  std::optional<size_t> security_entry_offset;  // none when the directory is too short for it
  std::vector<PeSection> sections;

  // The section whose file data holds `file_offset`; none when no section's does.
  std::optional<size_t> SectionHolding(uint64_t file_offset) const;
  // Where the sections' file data ends: a shorter file is cut short.
  uint64_t raw_end() const;
};

// The layout of a PE image from its first `head_size` bytes; none when the bytes are no PE
// image. Throws ToolError for a PE image whose headers lie beyond `head`.
std::optional<PeLayout> ReadPeLayout(const uint8_t* head, size_t head_size);

// Characteristics bit of a section that holds initialized data.
constexpr uint32_t kSectionInitializedData = 0x40;

// The image checksum as the Windows loader and CheckSumMappedFile define it: the file's 16-bit
// little-endian words (a last odd byte padded with zero) summed with the carries folded back,
// the CheckSum field itself counted as zero, plus the file's length. Fed in pieces of any size.
class PeChecksum {
 public:
  explicit PeChecksum(size_t checksum_offset) : checksum_offset_(checksum_offset) {}
  void Add(const uint8_t* data, size_t size);
  uint32_t Finish() const;

 private:
  void AddByte(uint8_t byte);
  size_t checksum_offset_;
  uint64_t length_ = 0;
  uint64_t sum_ = 0;
  bool odd_ = false;       // a word's first byte has come, its second not yet
  uint32_t low_byte_ = 0;  // that first byte
};

}  // namespace setup_pack
