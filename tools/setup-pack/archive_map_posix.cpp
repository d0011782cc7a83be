#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "archive/entry_header.h"
#include "host/files.h"
#include "tools/setup-pack/archive_map.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {
namespace {

// Windows of 1 MiB keep the resident part of the mapping small; each is unmapped before the next
// is mapped.
constexpr size_t kWindow = size_t{1} << 20;

class MappedSource final : public WalkSource {
 public:
  MappedSource(int fd, std::string path, uint64_t offset, size_t size)
      : fd_(fd), path_(std::move(path)), offset_(offset), size_(size),
        page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {}

  ~MappedSource() override {
    Unmap();
    close(fd_);
  }

  MappedSource(const MappedSource&) = delete;
  MappedSource& operator=(const MappedSource&) = delete;

  size_t size() const override { return size_; }

  void ReadHeader(size_t offset, uint8_t* bytes) override {
    std::memcpy(bytes, View(offset, archive::kEntryHeaderSize), archive::kEntryHeaderSize);
  }

  bool AllZeroFrom(size_t offset) override {
    while (offset < size_) {
      const uint8_t* view = View(offset, 1);
      const size_t length =
          std::min<uint64_t>(size_ - offset, map_start_ + map_length_ - (offset_ + offset));
      if (std::any_of(view, view + length, [](uint8_t byte) { return byte != 0; })) return false;
      offset += length;
    }
    return true;
  }

 private:
  // The `count` bytes at archive offset `offset` (and what follows them up to the window's end),
  // mapping a new window when they lie outside the current one.
  const uint8_t* View(size_t offset, size_t count) {
    const uint64_t first = offset_ + offset;
    if (mapping_ == nullptr || first < map_start_ || first + count > map_start_ + map_length_) {
      Unmap();
      map_start_ = first / page_ * page_;
      const uint64_t end =
          std::min<uint64_t>(offset_ + size_, std::max(first + count, map_start_ + kWindow));
      map_length_ = static_cast<size_t>(end - map_start_);
      void* mapping =
          mmap(nullptr, map_length_, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(map_start_));
      if (mapping == MAP_FAILED) {
        throw ToolError("cannot read \"" + path_ + "\": " + std::strerror(errno));
      }
      mapping_ = mapping;
    }
    return static_cast<const uint8_t*>(mapping_) + (first - map_start_);
  }

  void Unmap() {
    if (mapping_ != nullptr) munmap(mapping_, map_length_);
    mapping_ = nullptr;
  }

  int fd_;
  std::string path_;
  uint64_t offset_;
  size_t size_;
  size_t page_;
  void* mapping_ = nullptr;
  uint64_t map_start_ = 0;
  size_t map_length_ = 0;
};

class MappedArea final : public MappedArchiveArea {
 public:
  MappedArea(void* mapping, size_t length, size_t lead, size_t size)
      : mapping_(mapping), length_(length), lead_(lead), size_(size) {}
  ~MappedArea() override { munmap(mapping_, length_); }
  MappedArea(const MappedArea&) = delete;
  MappedArea& operator=(const MappedArea&) = delete;

  const uint8_t* data() const override { return static_cast<const uint8_t*>(mapping_) + lead_; }
  size_t size() const override { return size_; }
  // The mapping is shared and never written: dropping its pages loses nothing, and a later
  // touch maps them again from the page cache or the file.
  void ReleasePages() override { madvise(mapping_, length_, MADV_DONTNEED); }

 private:
  void* mapping_;
  size_t length_;
  size_t lead_;  // from the mapping's page-aligned start to the area
  size_t size_;
};

int OpenForMapping(const std::string& native_path) {
  // Spelled as the file layer spells every path, as the reader's own opening of the file will be.
  const int fd = open(host::NativePath(native_path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ToolError("cannot read \"" + native_path + "\": " + std::strerror(errno));
  return fd;
}

}  // namespace

std::unique_ptr<MappedArchiveArea> MapArchiveArea(const std::string& native_path,
                                                  uint64_t offset, size_t size) {
  if (size == 0 || size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    return nullptr;
  }
  const int fd = OpenForMapping(native_path);
  const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const uint64_t start = offset / page * page;
  const auto lead = static_cast<size_t>(offset - start);
  void* mapping = mmap(nullptr, lead + size, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(start));
  const int error = errno;
  close(fd);  // the mapping keeps the file
  if (mapping == MAP_FAILED) {
    throw ToolError("cannot read \"" + native_path + "\": " + std::strerror(error));
  }
  return std::make_unique<MappedArea>(mapping, lead + size, lead, size);
}

std::unique_ptr<WalkSource> MapArchiveForWalk(const std::string& native_path, uint64_t offset,
                                              size_t size) {
  const int fd = OpenForMapping(native_path);
  return std::make_unique<MappedSource>(fd, native_path, offset, size);
}

}  // namespace setup_pack
