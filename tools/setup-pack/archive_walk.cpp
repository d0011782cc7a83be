#include "tools/setup-pack/archive_walk.h"

#include <algorithm>
#include <cstring>

#include "archive/transform.h"
#include "host/files.h"
#include "host/host_error.h"
#include "tools/setup-pack/archive_map.h"
#include "tools/setup-pack/archive_text.h"
#include "tools/setup-pack/package_image.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {
namespace {

class MemorySource final : public WalkSource {
 public:
  MemorySource(const uint8_t* archive, size_t size) : archive_(archive), size_(size) {}
  size_t size() const override { return size_; }
  void ReadHeader(size_t offset, uint8_t* bytes) override {
    std::memcpy(bytes, archive_ + offset, archive::kEntryHeaderSize);
  }
  bool AllZeroFrom(size_t offset) override {
    return std::all_of(archive_ + offset, archive_ + size_, [](uint8_t byte) { return byte == 0; });
  }

 private:
  const uint8_t* archive_;
  size_t size_;
};

// Reads the file through a window of a few KiB that moves forward with the walk: small entries
// are read a window at a time, and the data of large ones is jumped over.
class FileSource final : public WalkSource {
 public:
  static constexpr size_t kWindow = 64 * 1024;

  FileSource(host::InputFile& file, uint64_t offset, size_t size)
      : file_(file), offset_(offset), size_(size), window_(kWindow) {}

  size_t size() const override { return size_; }

  void ReadHeader(size_t offset, uint8_t* bytes) override {
    if (offset < start_ || offset + archive::kEntryHeaderSize > start_ + filled_) {
      Fill(offset);
    }
    std::memcpy(bytes, window_.data() + (offset - start_), archive::kEntryHeaderSize);
  }

  bool AllZeroFrom(size_t offset) override {
    while (offset < size_) {
      if (offset < start_ || offset >= start_ + filled_) Fill(offset);
      const uint8_t* begin = window_.data() + (offset - start_);
      const uint8_t* end = window_.data() + filled_;
      if (std::any_of(begin, end, [](uint8_t byte) { return byte != 0; })) return false;
      offset = start_ + filled_;
    }
    return true;
  }

 private:
  void Fill(size_t offset) {
    const size_t wanted = std::min(kWindow, size_ - offset);
    file_.Seek(static_cast<int64_t>(offset_ + offset));
    ReadFully(file_, window_.data(), wanted);
    start_ = offset;
    filled_ = wanted;
  }

  host::InputFile& file_;
  uint64_t offset_;
  size_t size_;
  std::vector<uint8_t> window_;
  size_t start_ = 0;
  size_t filled_ = 0;
};

}  // namespace

ArchiveWalk VisitArchive(WalkSource& source,
                         const std::function<void(const WalkedEntry&)>& visit) {
  ArchiveWalk walk;
  const size_t size = source.size();
  size_t offset = 0;
  for (size_t index = 0;; ++index) {
    walk.end_index = index;
    walk.end_offset = offset;
    if (offset >= size || source.AllZeroFrom(offset)) return walk;
    if (size - offset < archive::kEntryHeaderSize) {
      walk.end = WalkEnd::kCutHeader;
      walk.end_value = static_cast<int64_t>(size - offset);
      return walk;
    }
    WalkedEntry entry;
    entry.index = index;
    entry.offset = offset;
    uint8_t bytes[archive::kEntryHeaderSize];
    source.ReadHeader(offset, bytes);
    archive::TransformHeader(bytes);
    std::memcpy(&entry.header, bytes, sizeof bytes);
    entry.name = archive::EntryName(entry.header);
    if (entry.header.size < 0) {
      walk.end = WalkEnd::kNegativeSize;
      walk.end_value = entry.header.size;
      return walk;
    }
    const size_t data_offset = offset + archive::kEntryHeaderSize;
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
  MemorySource source(archive, size);
  std::vector<WalkedEntry> entries;
  ArchiveWalk walk =
      VisitArchive(source, [&entries](const WalkedEntry& entry) { entries.push_back(entry); });
  walk.entries = std::move(entries);
  return walk;
}

ArchiveWalk VisitArchiveFile(const std::string& native_path, uint64_t offset, size_t size,
                             const std::function<void(const WalkedEntry&)>& visit) {
  try {
    if (const std::unique_ptr<WalkSource> mapped = MapArchiveForWalk(native_path, offset, size)) {
      return VisitArchive(*mapped, visit);
    }
    host::InputFile file = host::InputFile::OpenReadOnly(native_path);
    FileSource source(file, offset, size);
    return VisitArchive(source, visit);
  } catch (const host::HostError& error) {
    throw ToolError(error.what());
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
      return "the archive is cut short at " + where + " (\"" + ToNativeText(end_name) +
             "\"): its " + std::to_string(end_value) + " data bytes run past the end of the " +
             std::to_string(archive_size) + "-byte archive";
  }
  return std::string();
}

}  // namespace setup_pack
