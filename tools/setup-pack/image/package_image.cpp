#include "tools/setup-pack/image/package_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>

#include "archive/archive_writer.h"
#include "archive/little_endian.h"
#include "archive/package_block.h"
#include "host/files.h"
#include "host/host_error.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/image/authenticode.h"
#include "tools/setup-pack/image/page_buffer.h"

namespace setup_pack {
namespace {

// The largest file taken as an archive or an installer: an installer is its program, the package
// block (18,000,044 bytes) and perhaps a signature, far below this; a raw archive holds at most
// the archive area. A larger file is refused before anything of it is read, so that what a
// command reads and holds stays bounded whatever file it is given.
constexpr int64_t kMaxImageSize = int64_t{64} << 20;
// The scan reads the file in blocks of this size, small enough to be searched while they are
// still in the second-level cache. The last bytes of a block, one fewer than the longer marker,
// are searched again with the next.
constexpr size_t kScanBlock = size_t{256} << 10;
constexpr size_t kScanOverlap =
    std::max(archive::kMarkerFieldSize, archive::kSettingsMarkerSize) - 1;

// Reads `count` bytes at `offset` of the package file (from memory or from the file).
using ReadAt = std::function<void(size_t offset, uint8_t* out, size_t count)>;

// Sixteen bytes as one value: GCC and Clang use the vector registers every x86-64 has (SSE2),
// and plain word operations where there are none. Vectors are only ever locals or passed by
// reference: passing them by value would differ between targets with and without SSE.
using Bytes16 = uint8_t __attribute__((vector_size(16)));
constexpr size_t kVector = sizeof(Bytes16);

// Calls `found(0, position)` for every package-block marker and `found(1, position)` for every
// settings-record marker in `data` that starts before `limit`. Sixty-four positions at a time
// are tested for the first two bytes of either marker at once; only a group holding such a pair
// (one in a few hundred in random data) is compared position by position. A memchr search for
// each marker's first byte instead stops every 256 bytes and takes about twice as long.
template <typename Found>
void ForEachMarker(const uint8_t* data, size_t size, size_t limit, Found found) {
  const uint8_t* const markers[2] = {archive::kPackageMarker, archive::kSettingsMarker};
  const size_t sizes[2] = {archive::kMarkerFieldSize, archive::kSettingsMarkerSize};
  const auto check = [&](size_t at) {
    for (int which = 0; which < 2; ++which) {
      if (at + sizes[which] <= size && std::memcmp(data + at, markers[which], sizes[which]) == 0) {
        found(which, at);
      }
    }
  };
  Bytes16 first0;
  Bytes16 second0;
  Bytes16 first1;
  Bytes16 second1;
  std::memset(&first0, markers[0][0], kVector);
  std::memset(&second0, markers[0][1], kVector);
  std::memset(&first1, markers[1][0], kVector);
  std::memset(&second1, markers[1][1], kVector);
  constexpr size_t kStep = 4 * kVector;
  const size_t end = std::min(limit, size);
  size_t at = 0;
  for (; at + kStep + 1 <= size && at + kStep <= end; at += kStep) {
    Bytes16 any{};
    for (size_t part = 0; part < kStep; part += kVector) {
      Bytes16 here;
      Bytes16 next;
      std::memcpy(&here, data + at + part, kVector);
      std::memcpy(&next, data + at + part + 1, kVector);
      any |= reinterpret_cast<Bytes16>(((here == first0) & (next == second0)) |
                                       ((here == first1) & (next == second1)));
    }
    uint64_t words[2];
    std::memcpy(words, &any, sizeof words);
    if ((words[0] | words[1]) == 0) continue;
    for (size_t candidate = at; candidate < at + kStep; ++candidate) check(candidate);
  }
  for (; at < end; ++at) check(at);
}

// A Windows program: "MZ", and the PE signature where the DOS header points.
bool IsWindowsProgram(const uint8_t* head, size_t head_size) {
  constexpr size_t kNewHeaderPointer = 0x3C;
  if (head_size < kNewHeaderPointer + 4 || head[0] != 'M' || head[1] != 'Z') return false;
  const uint32_t pe = archive::ReadLittleEndian32(head + kNewHeaderPointer);
  return pe <= head_size - 4 && std::memcmp(head + pe, "PE\0\0", 4) == 0;
}

// A file without a whole package block is read as a raw archive, unless it holds a package
// marker (a scrambled archive never does) or is a Windows program: then it is an installer cut
// short, or no installer at all, and reading its bytes as an archive would only report nonsense.
void RefuseCutInstaller(const PackageImage& image, const uint8_t* head, size_t head_size,
                        const std::string& native_path) {
  if (image.is_installer()) return;
  if (image.package_marker_count() > 0) {
    throw ToolError("\"" + native_path + "\" is an installer cut short: it ends " +
                    std::to_string(image.file_size()) + " bytes in, before the end of its " +
                    std::to_string(sizeof(archive::PackageBlock)) +
                    "-byte package block (an interrupted download or copy looks like this)");
  }
  if (IsWindowsProgram(head, head_size)) {
    throw ToolError("\"" + native_path + "\" is a Windows program without a package block: an " +
                    "installer cut short before its block, or no installer at all");
  }
}

}  // namespace

void ReadFully(host::InputFile& file, uint8_t* out, size_t count) {
  // Read delivers fewer bytes than asked only at the end of the file.
  if (file.Read(out, count) != count) throw ToolError("the file ended while it was being read");
}

void CheckImageSize(const std::string& native_path, int64_t size) {
  if (size > kMaxImageSize) {
    throw ToolError("\"" + native_path + "\" is " + std::to_string(size) +
                    " bytes, too large to be an archive or an installer");
  }
}

host::MappedFile MapInput(const std::string& native_path) {
  try {
    host::MappedFile file = host::MappedFile::Open(native_path, kMaxImageSize);
    CheckImageSize(native_path, static_cast<int64_t>(file.file_size()));
    return file;
  } catch (const host::HostError& error) {
    throw ToolError(error.what());
  }
}

MarkerOffsets ScanForMarkers(host::InputFile& file, size_t size) {
  MarkerOffsets found;
  // Each block is read into the buffer from its second page on; the last bytes of the block
  // before are moved in front of it, so that a marker across the boundary is found whole.
  PageBuffer buffer(PageBuffer::kPageSize + std::min(kScanBlock, size));
  uint8_t* const fresh_start = buffer.data() + PageBuffer::kPageSize;
  size_t carried = 0;
  size_t next_read = 0;
  if (file.Position() != 0) file.Seek(0);
  while (next_read < size) {
    const size_t fresh = std::min(kScanBlock, size - next_read);
    ReadFully(file, fresh_start, fresh);
    const uint8_t* const block = fresh_start - carried;
    const size_t length = carried + fresh;
    const size_t block_start = next_read - carried;
    next_read += fresh;
    const size_t limit = next_read == size ? length : length - kScanOverlap;
    ForEachMarker(block, length, limit, [&](int which, size_t at) {
      (which == 0 ? found.package_blocks : found.settings_records).push_back(block_start + at);
    });
    carried = length - limit;
    std::memmove(fresh_start - carried, block + limit, carried);
  }
  return found;
}

// The findings that follow from the marker offsets, read where the package file is kept: the
// first package marker with the block's capacity behind it and room for the whole block, the
// block's head, and (installers only) every settings record with room for its fields.
class PackageImageFindings {
 public:
  static void Complete(PackageImage& image, std::vector<size_t> settings_markers,
                       const ReadAt& read_at) {
    for (const size_t offset : image.package_markers_) {
      if (offset + archive::kPackageHeadSize + archive::kArchiveCapacity > image.file_size_) {
        continue;
      }
      uint8_t head[archive::kPackageHeadSize];
      read_at(offset, head, sizeof head);
      if (archive::StoredCapacity(head) == static_cast<uint32_t>(archive::kArchiveCapacity)) {
        image.block_offset_ = offset;
        break;
      }
    }
    if (!image.block_offset_) return;
    read_at(*image.block_offset_, image.block_head_.data(), image.block_head_.size());
    for (const size_t offset : settings_markers) {
      if (offset + sizeof(archive::SettingsRecord) > image.file_size_) continue;
      uint8_t record[sizeof(archive::SettingsRecord)];
      read_at(offset, record, sizeof record);
      image.settings_records_.push_back(offset);
      image.settings_values_.push_back(
          Settings{archive::StoredJob(record), archive::StoredKey(record)});
    }
  }
};

PackageImage PackageImage::Load(const std::string& native_path) {
  PackageImage image;
  image.file_ = MapInput(native_path);
  image.file_size_ = image.file_.size();
  const uint8_t* const bytes = image.file_.data();
  std::vector<size_t> settings_markers;
  ForEachMarker(bytes, image.file_size_, image.file_size_, [&](int which, size_t at) {
    (which == 0 ? image.package_markers_ : settings_markers).push_back(at);
  });
  PackageImageFindings::Complete(image, std::move(settings_markers),
                                 [bytes](size_t offset, uint8_t* out, size_t count) {
                                   std::memcpy(out, bytes + offset, count);
                                 });
  RefuseCutInstaller(image, bytes, std::min(image.file_size_, kPeHeadBytes), native_path);
  return image;
}

const uint8_t* PackageImage::archive() const {
  return file_size_ == 0 ? nullptr : file_.data() + archive_offset();
}

size_t PackageImage::archive_offset() const {
  return block_offset_ ? *block_offset_ + archive::kPackageHeadSize : 0;
}

size_t PackageImage::archive_size() const {
  return block_offset_ ? static_cast<size_t>(archive::kArchiveCapacity) : file_size_;
}

uint8_t PackageImage::caption_length() const {
  return block_head_[offsetof(archive::PackageBlock, caption)];
}

std::string PackageImage::caption() const { return archive::StoredCaption(block_head_.data()); }

std::optional<Settings> PackageImage::settings() const {
  if (settings_values_.size() != 1) return std::nullopt;
  return settings_values_.front();
}

uint32_t KeyFor(const PackageImage& image, const std::optional<uint32_t>& given_key) {
  if (given_key) return *given_key;
  if (!image.is_installer()) return archive::kDefaultArchiveKey;
  if (const std::optional<Settings> settings = image.settings()) return settings->key;
  throw ToolError("the installer image holds " + std::to_string(image.settings_record_count()) +
                  " settings records instead of one, so its archive key is unknown; give --key");
}

std::string HexKey(uint32_t key) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(key));
  return text;
}

}  // namespace setup_pack
