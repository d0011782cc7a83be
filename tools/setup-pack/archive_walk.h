// A walk over an archive's headers that, unlike the installer's reader, says how it ended. It
// follows the reader's rules (272-byte headers, the next header after `size` data bytes, the end
// at a header that cannot be read whole or whose size is negative) and also tells a clean end
// (the archive used up exactly, or only zero bytes left, as in a package block's area) from a
// damaged one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry_header.h"

namespace setup_pack {

struct WalkedEntry {
  size_t index = 0;   // 0 for the first entry
  size_t offset = 0;  // of its header
  archive::EntryHeader header{};
  std::string name;   // archive text
};

enum class WalkEnd {
  kClean,
  kCutHeader,      // fewer than 272 bytes left, not all zero
  kNegativeSize,   // a header with a negative size, and non-zero bytes left from it on
  kDataPastEnd,    // the last entry's data runs past the end
};

struct ArchiveWalk {
  std::vector<WalkedEntry> entries;  // with kDataPastEnd, the last one is the cut entry
  WalkEnd end = WalkEnd::kClean;
  size_t end_index = 0;   // index of the entry where the walk stopped
  size_t end_offset = 0;  // its header's offset
  int64_t end_value = 0;  // header bytes left (kCutHeader) or the size field read

  bool clean() const { return end == WalkEnd::kClean; }
  int64_t DataBytes() const;
  // What went wrong and where ("entry index 4 at byte offset 1088: ..."); empty when clean.
  std::string Problem(size_t archive_size) const;
};

ArchiveWalk WalkArchive(const uint8_t* archive, size_t size);

}  // namespace setup_pack
