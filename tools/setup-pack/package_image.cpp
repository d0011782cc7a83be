#include "tools/setup-pack/package_image.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>

#include "archive/archive_writer.h"
#include "archive/package_block.h"
#include "host/files.h"
#include "host/host_error.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {
namespace {

// The memory source of the reader measures in signed 32-bit numbers.
constexpr int64_t kMaxImageSize = std::numeric_limits<int32_t>::max();

bool HoldsBlockAt(const std::vector<uint8_t>& bytes, size_t offset) {
  if (offset + archive::kPackageHeadSize + archive::kArchiveCapacity > bytes.size()) return false;
  const uint8_t* capacity = bytes.data() + offset + offsetof(archive::PackageBlock, capacity);
  return archive::ReadLittleEndian32(capacity) == static_cast<uint32_t>(archive::kArchiveCapacity);
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& native_path) {
  try {
    host::InputFile file = host::InputFile::OpenReadOnly(native_path);
    const int64_t size = file.Size();
    if (size > kMaxImageSize) {
      throw ToolError("\"" + native_path + "\" is " + std::to_string(size) +
                      " bytes, too large to be an archive or an installer");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    size_t filled = 0;
    while (filled < bytes.size()) {
      const size_t got = file.Read(bytes.data() + filled, bytes.size() - filled);
      if (got == 0) break;
      filled += got;
    }
    bytes.resize(filled);
    return bytes;
  } catch (const host::HostError& error) {
    throw ToolError(error.what());
  }
}

std::vector<size_t> FindAll(const std::vector<uint8_t>& bytes, const uint8_t* pattern,
                            size_t pattern_size) {
  std::vector<size_t> offsets;
  const std::boyer_moore_horspool_searcher searcher(pattern, pattern + pattern_size);
  auto from = bytes.begin();
  for (;;) {
    const auto found = std::search(from, bytes.end(), searcher);
    if (found == bytes.end()) return offsets;
    offsets.push_back(static_cast<size_t>(found - bytes.begin()));
    from = found + 1;
  }
}

PackageImage PackageImage::Load(const std::string& native_path) {
  PackageImage image;
  image.bytes_ = ReadWholeFile(native_path);
  image.package_markers_ =
      FindAll(image.bytes_, archive::kPackageMarker, archive::kMarkerFieldSize);
  for (const size_t offset : image.package_markers_) {
    if (HoldsBlockAt(image.bytes_, offset)) {
      image.block_offset_ = offset;
      break;
    }
  }
  if (image.block_offset_) {
    for (const size_t offset :
         FindAll(image.bytes_, archive::kSettingsMarker, archive::kSettingsMarkerSize)) {
      if (offset + sizeof(archive::SettingsRecord) <= image.bytes_.size()) {
        image.settings_records_.push_back(offset);
      }
    }
  }
  return image;
}

const uint8_t* PackageImage::archive() const {
  if (block_offset_) return bytes_.data() + *block_offset_ + archive::kPackageHeadSize;
  return bytes_.data();
}

size_t PackageImage::archive_size() const {
  return block_offset_ ? static_cast<size_t>(archive::kArchiveCapacity) : bytes_.size();
}

uint8_t PackageImage::caption_length() const {
  return bytes_[*block_offset_ + offsetof(archive::PackageBlock, caption)];
}

std::string PackageImage::caption() const {
  const uint8_t* field = bytes_.data() + *block_offset_ + offsetof(archive::PackageBlock, caption);
  const size_t length = std::min<size_t>(field[0], archive::kMaxCaptionLength);
  return std::string(reinterpret_cast<const char*>(field + 1), length);
}

std::optional<Settings> PackageImage::settings() const {
  if (settings_records_.size() != 1) return std::nullopt;
  const uint8_t* record = bytes_.data() + settings_records_.front();
  return Settings{archive::ReadLittleEndian32(record + offsetof(archive::SettingsRecord, job)),
                  archive::ReadLittleEndian32(record + offsetof(archive::SettingsRecord, key))};
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
