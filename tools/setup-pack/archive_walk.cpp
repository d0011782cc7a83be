#include "tools/setup-pack/archive_walk.h"

#include <algorithm>
#include <cstring>

#include "archive/transform.h"
#include "tools/setup-pack/archive_text.h"

namespace setup_pack {
namespace {

bool AllZero(const uint8_t* begin, const uint8_t* end) {
  return std::all_of(begin, end, [](uint8_t byte) { return byte == 0; });
}

}  // namespace

ArchiveWalk WalkArchive(const uint8_t* archive, size_t size) {
  ArchiveWalk walk;
  size_t offset = 0;
  for (size_t index = 0;; ++index) {
    walk.end_index = index;
    walk.end_offset = offset;
    if (offset >= size || AllZero(archive + offset, archive + size)) return walk;
    if (size - offset < archive::kEntryHeaderSize) {
      walk.end = WalkEnd::kCutHeader;
      walk.end_value = static_cast<int64_t>(size - offset);
      return walk;
    }
    WalkedEntry entry;
    entry.index = index;
    entry.offset = offset;
    uint8_t bytes[archive::kEntryHeaderSize];
    std::memcpy(bytes, archive + offset, sizeof bytes);
    archive::TransformHeader(bytes);
    std::memcpy(&entry.header, bytes, sizeof bytes);
    entry.name = archive::EntryName(entry.header);
    if (entry.header.size < 0) {
      walk.end = WalkEnd::kNegativeSize;
      walk.end_value = entry.header.size;
      return walk;
    }
    const size_t data_offset = offset + archive::kEntryHeaderSize;
    walk.entries.push_back(entry);
    if (static_cast<size_t>(entry.header.size) > size - data_offset) {
      walk.end = WalkEnd::kDataPastEnd;
      walk.end_value = entry.header.size;
      return walk;
    }
    offset = data_offset + static_cast<size_t>(entry.header.size);
  }
}

int64_t ArchiveWalk::DataBytes() const {
  int64_t total = 0;
  for (const WalkedEntry& entry : entries) total += entry.header.size;
  return total;
}

std::string ArchiveWalk::Problem(size_t archive_size) const {
  const std::string where = "entry index " + std::to_string(end_index) + " at byte offset " +
                            std::to_string(end_offset);
  switch (end) {
    case WalkEnd::kClean:
      return std::string();
    case WalkEnd::kCutHeader:
      return "the archive is cut short at " + where + ": only " + std::to_string(end_value) +
             " of the header's 272 bytes are left";
    case WalkEnd::kNegativeSize:
      return "the walk stops early at " + where + ": the header's size is negative (" +
             std::to_string(end_value) + ") and " + std::to_string(archive_size - end_offset) +
             " bytes follow from there";
    case WalkEnd::kDataPastEnd:
      return "the archive is cut short at " + where + " (\"" + ToNativeText(entries.back().name) +
             "\"): its " + std::to_string(end_value) + " data bytes run past the end of the " +
             std::to_string(archive_size) + "-byte archive";
  }
  return std::string();
}

}  // namespace setup_pack
