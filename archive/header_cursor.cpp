#include "archive/header_cursor.h"

#include <algorithm>
#include <cstring>

namespace archive {

void MemoryWalkSource::ReadHeader(size_t offset, uint8_t* bytes) {
  std::memcpy(bytes, archive_ + offset, kEntryHeaderSize);
}

bool MemoryWalkSource::AllZeroFrom(size_t offset) {
  return std::all_of(archive_ + offset, archive_ + size_, [](uint8_t byte) { return byte == 0; });
}

ArchiveWalk VisitArchive(WalkSource& source,
                         const std::function<void(const WalkedEntry&)>& visit) {
  ArchiveWalk walk;
  const size_t size = source.size();
  size_t offset = 0;
  for (size_t index = 0;; ++index) {
    walk.end_index = index;
    walk.end_offset = offset;
    if (offset >= size || source.AllZeroFrom(offset)) return walk;
    if (size - offset < kEntryHeaderSize) {
      walk.end = WalkEnd::kCutHeader;
      walk.end_value = static_cast<int64_t>(size - offset);
      return walk;
    }
    WalkedEntry entry;
    entry.index = index;
    entry.offset = offset;
    uint8_t bytes[kEntryHeaderSize];
    source.ReadHeader(offset, bytes);
    entry.header = DecodeHeader(bytes);
    entry.name = EntryName(entry.header);
    if (entry.header.size < 0) {
      walk.end = WalkEnd::kNegativeSize;
      walk.end_value = entry.header.size;
      return walk;
    }
    const size_t data_offset = offset + kEntryHeaderSize;
    visit(entry);
    if (static_cast<size_t>(entry.header.size) > size - data_offset) {
      walk.end = WalkEnd::kDataPastEnd;
      walk.end_value = entry.header.size;
      walk.end_name = entry.name;
      return walk;
    }
    offset = data_offset + static_cast<size_t>(entry.header.size);
  }
}

ArchiveWalk WalkArchive(const uint8_t* archive, size_t size) {
  MemoryWalkSource source(archive, size);
  std::vector<WalkedEntry> entries;
  ArchiveWalk walk =
      VisitArchive(source, [&entries](const WalkedEntry& entry) { entries.push_back(entry); });
  walk.entries = std::move(entries);
  return walk;
}

int64_t ArchiveWalk::DataBytes() const {
  int64_t total = 0;
  for (const WalkedEntry& entry : entries) total += entry.header.size;
  return total;
}

}  // namespace archive
