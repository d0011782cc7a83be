#include "tools/setup-pack/image/package_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>

#include "archive/archive_writer.h"
#include "archive/little_endian.h"
#include "archive/package_block.h"
#include "host/files.h"
#include "host/host_error.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/image/authenticode.h"

namespace setup_pack {
namespace {

// The largest file taken as an archive or an installer: an installer is its program, the package
// block (18,000,044 bytes) and perhaps a signature, far below this; a raw archive holds at most
// the archive area. A larger file is refused before anything of it is read, so that what a
// command reads and holds stays bounded whatever file it is given.
constexpr int64_t kMaxImageSize = int64_t{64} << 20;

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
// An installer whose file ends before its sections' data (`pe`, when it is a PE image) was cut
// short too, even where its block's head and part of its archive are there.
void RefuseCutInstaller(const PackageImage& image, const PeLayout* pe, const uint8_t* head,
                        size_t head_size, const std::string& native_path) {
  if (image.is_installer()) {
    if (pe && pe->raw_end() > image.file_size()) {
      throw ToolError("\"" + native_path + "\" is an installer cut short: it ends " +
                      std::to_string(image.file_size()) + " bytes in, before the end of its " +
                      "sections' data at byte " + std::to_string(pe->raw_end()) +
                      " (an interrupted download or copy looks like this)");
    }
    return;
  }
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

void CheckImageSize(const std::string& native_path, int64_t size) {
  if (size > kMaxImageSize) {
    throw ToolError("\"" + native_path + "\" is " + std::to_string(size) +
                    " bytes, too large to be an archive or an installer");
  }
}

host::MappedFile MapInput(const std::string& native_path) {
  try {
    host::MappedFile file =
        host::MappedFile::Open(host::FromNativePath(native_path), kMaxImageSize);
    CheckImageSize(native_path, static_cast<int64_t>(file.file_size()));
    return file;
  } catch (const host::HostError& error) {
    throw ToolError(error.what());
  }
}

MarkerOffsets FindMarkers(const uint8_t* data, size_t size) {
  MarkerOffsets found;
  ForEachMarker(data, size, size, [&found](int which, size_t at) {
    (which == 0 ? found.package_blocks : found.settings_records).push_back(at);
  });
  return found;
}

MarkerOffsets FindMarkersOutsideTheArea(const uint8_t* data, size_t size, const PeLayout* pe) {
  const std::optional<BlockLocation> block = FindPackageBlock(data, size, pe);
  if (!block) return FindMarkers(data, size);
  // Up to the block's head, and from the end of its stored area on.
  const size_t area = block->offset + archive::kPackageHeadSize;
  MarkerOffsets found = FindMarkers(data, area);
  found.block = block;
  const size_t area_end = block->offset + block->stored;
  const MarkerOffsets after = FindMarkers(data + area_end, size - area_end);
  for (const size_t at : after.package_blocks) found.package_blocks.push_back(area_end + at);
  for (const size_t at : after.settings_records) found.settings_records.push_back(area_end + at);
  return found;
}

// The findings that follow from the markers in the file's bytes: the block (see
// FindPackageBlock), its head, and (installers only) every settings record with room for its
// fields.
class PackageImageFindings {
 public:
  static void Complete(PackageImage& image, MarkerOffsets markers, const uint8_t* bytes) {
    image.package_markers_ = std::move(markers.package_blocks);
    image.block_ = markers.block;
    if (!image.block_) return;
    std::memcpy(image.block_head_.data(), bytes + image.block_->offset, image.block_head_.size());
    for (const size_t offset : markers.settings_records) {
      if (offset + sizeof(archive::SettingsRecord) > image.file_size_) continue;
      const uint8_t* const record = bytes + offset;
      image.settings_records_.push_back(offset);
      image.settings_values_.push_back(
          Settings{archive::StoredJob(record), archive::StoredKey(record),
                   archive::StoredArchiveCheck(record)});
    }
  }
};

PackageImage PackageImage::Load(const std::string& native_path) {
  PackageImage image;
  image.file_ = MapInput(native_path);
  image.file_size_ = image.file_.size();
  const uint8_t* const bytes = image.file_.data();
  const size_t head_size = std::min(image.file_size_, kPeHeadBytes);
  // A file that is no Windows program and no larger than an archive area can only be a raw
  // archive, whose scrambled entries hold no marker: it is not searched (a search of 18 MB costs
  // more than the rest of reading a one-file package).
  std::optional<PeLayout> pe;
  if (IsWindowsProgram(bytes, head_size) ||
      image.file_size_ > static_cast<size_t>(archive::kArchiveCapacity)) {
    try {
      pe = ReadPeLayout(bytes, head_size);
    } catch (const ToolError&) {
      // Headers that make no sense place no block in a section; verify reports them.
    }
    PackageImageFindings::Complete(
        image, FindMarkersOutsideTheArea(bytes, image.file_size_, pe ? &*pe : nullptr), bytes);
  }
  RefuseCutInstaller(image, pe ? &*pe : nullptr, bytes, head_size, native_path);
  const size_t area_size = static_cast<size_t>(archive::kArchiveCapacity);
  if (image.is_installer() && image.stored_area_size() < area_size) {
    image.whole_area_.reset(static_cast<uint8_t*>(std::calloc(area_size, 1)));
    if (!image.whole_area_) throw ToolError("out of memory for the archive area");
    std::memcpy(image.whole_area_.get(), bytes + image.archive_offset(),
                image.stored_area_size());
  }
  return image;
}

const uint8_t* PackageImage::archive() const {
  if (whole_area_) return whole_area_.get();
  return file_size_ == 0 ? nullptr : file_.data() + archive_offset();
}

size_t PackageImage::archive_offset() const {
  return block_ ? block_->offset + archive::kPackageHeadSize : 0;
}

size_t PackageImage::archive_size() const {
  return block_ ? static_cast<size_t>(archive::kArchiveCapacity) : file_size_;
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
