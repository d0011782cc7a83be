// A walk over an archive's headers that, unlike the installer's reader, says how it ended. It
// follows the reader's rules (272-byte headers, the next header after `size` data bytes, the end
// at a header that cannot be read whole or whose size is negative) and also tells a clean end
// (the archive used up exactly, or only zero bytes left, as in a package block's area) from a
// damaged one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/entry_header.h"

namespace archive {

struct WalkedEntry {
  size_t index = 0;   // 0 for the first entry
  size_t offset = 0;  // of its header
  EntryHeader header{};
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
  std::string end_name;   // the cut entry's name (kDataPastEnd)

  bool clean() const { return end == WalkEnd::kClean; }
  int64_t DataBytes() const;
};

// What the walk reads: the archive's bytes, wherever they are kept.
class WalkSource {
 public:
  virtual ~WalkSource() = default;
  virtual size_t size() const = 0;
  // The 272 header bytes at `offset`, which lie inside the archive.
  virtual void ReadHeader(size_t offset, uint8_t* bytes) = 0;
  // True when every byte from `offset` to the end is zero.
  virtual bool AllZeroFrom(size_t offset) = 0;
};

// An archive held in memory.
class MemoryWalkSource final : public WalkSource {
 public:
  MemoryWalkSource(const uint8_t* archive, size_t size) : archive_(archive), size_(size) {}
  size_t size() const override { return size_; }
  void ReadHeader(size_t offset, uint8_t* bytes) override;
  bool AllZeroFrom(size_t offset) override;

 private:
  const uint8_t* archive_;
  size_t size_;
};

// The walk over any source, handing each entry to `visit` in stored order. The result tells how
// the walk ended; its `entries` stays empty.
ArchiveWalk VisitArchive(WalkSource& source, const std::function<void(const WalkedEntry&)>& visit);

// The walk over an archive in memory, keeping every entry.
ArchiveWalk WalkArchive(const uint8_t* archive, size_t size);

}  // namespace archive
