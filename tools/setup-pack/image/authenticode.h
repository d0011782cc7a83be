// The Authenticode signature and the checksum of a PE image (an installer program).
//
// A signature is the image's certificate table. The security entry of the optional header's data
// directory locates it by file offset (unlike every other entry, which holds a memory address)
// and size; signing tools append it at the end of the file. The signature covers every byte of
// the image but the checksum field, the security entry and the table itself, so embedding a
// package into a signed installer program would break it: the built installer is signed instead.
//
// The headers read here, by file offset:
//   0x3C                 e_lfanew, the offset of the "PE\0\0" signature
//   e_lfanew + 4         COFF file header, 20 bytes; SizeOfOptionalHeader at +16 (16 bits)
//   e_lfanew + 24        optional header: Magic (0x10B PE32, 0x20B PE32+); CheckSum at +64;
//                        NumberOfRvaAndSizes at +92 (PE32) or +108 (PE32+), then the data
//                        directory, 8 bytes an entry (address, size); the security entry is the
//                        fifth (index 4)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace setup_pack {

// Enough of a file's beginning to hold the headers above for any image a linker writes.
constexpr size_t kPeHeadBytes = 4096;

struct PeSignature {
  size_t checksum_offset = 0;
  std::optional<size_t> security_entry_offset;  // none when the directory is too short for it
  uint32_t table_offset = 0;                    // a file offset
  uint32_t table_size = 0;                      // 0: not signed
  bool present() const { return table_size != 0; }
  // Signing tools put the table last; only then can it be cut off the image.
  bool at_end(uint64_t file_size) const {
    return uint64_t{table_offset} + table_size == file_size;
  }
};

// The signature facts of a PE image from its first `head_size` bytes (at most kPeHeadBytes are
// needed) and its size; none when the bytes are no PE image. Throws ToolError for a PE image
// whose headers lie beyond `head` or whose certificate table lies outside the file.
std::optional<PeSignature> ReadPeSignature(const uint8_t* head, size_t head_size,
                                           uint64_t file_size);

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
  uint32_t sum_ = 0;
  uint32_t low_byte_ = 0;  // the first byte of a word whose second byte has not come yet
};

}  // namespace setup_pack
