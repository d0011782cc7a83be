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

std::string WalkProblem(const ArchiveWalk& walk, size_t archive_size) {
  const std::string where = "entry index " + std::to_string(walk.end_index) + " at byte offset " +
                            std::to_string(walk.end_offset);
  switch (walk.end) {
    case WalkEnd::kClean:
      return std::string();
    case WalkEnd::kCutHeader:
      return "the archive is cut short at " + where + ": only " + std::to_string(walk.end_value) +
             " of the header's 272 bytes are left";
    case WalkEnd::kNegativeSize:
      return "the walk stops early at " + where + ": the header's size is negative (" +
             std::to_string(walk.end_value) + ") and " + std::to_string(archive_size - walk.end_offset) +
             " bytes follow from there";
    case WalkEnd::kDataPastEnd:
      return "the archive is cut short at " + where + " (\"" + NameForMessage(walk.end_name) +
             "\"): its " + std::to_string(walk.end_value) + " data bytes run past the end of the " +
             std::to_string(archive_size) + "-byte archive";
  }
  return std::string();
}

}  // namespace setup_pack
