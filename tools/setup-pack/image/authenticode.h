// The Authenticode signature of a PE image (an installer program).
//
// A signature is the image's certificate table. The security entry of the optional header's data
// directory locates it by file offset (unlike every other entry, which holds a memory address)
// and size; signing tools append it at the end of the file. The signature covers every byte of
// the image but the checksum field, the security entry and the table itself, so embedding a
// package into a signed installer program would break it: the built installer is signed instead.
//
// Its directory entry is read from the headers described in pe_layout.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/setup-pack/image/pe_layout.h"

namespace setup_pack {

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
// The same from headers already read into `layout` (from `head`).
PeSignature ReadPeSignature(const PeLayout& layout, const uint8_t* head, uint64_t file_size);

}  // namespace setup_pack
