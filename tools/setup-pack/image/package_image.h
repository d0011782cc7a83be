// A file that holds a package: either a raw archive (the archive is the whole file) or a built
// installer image (the archive is the area of its package block, found by the block's marker and
// its capacity of 18,000,000). Load reads the file into memory once, and list, verify and extract
// work on that copy: a file changed while they run cannot change what they see.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/package_block.h"
#include "archive/settings_record.h"
#include "host/files.h"
#include "host/mapped_file.h"

namespace setup_pack {

class PackageImageFindings;

// The whole file as read-only memory. Throws ToolError when it cannot be read or is too large to
// be an archive or an installer.
host::MappedFile MapInput(const std::string& native_path);
// Throws ToolError when a file of `size` bytes is too large to be an archive or an installer.
void CheckImageSize(const std::string& native_path, int64_t size);

// Offsets of every package-block marker and every settings-record marker in `size` bytes.
struct MarkerOffsets {
  std::vector<size_t> package_blocks;
  std::vector<size_t> settings_records;
  std::optional<size_t> block;  // FindMarkersOutsideTheArea only: the block it found
};
MarkerOffsets FindMarkers(const uint8_t* data, size_t size);
// The offset of the package block: the first package marker with the block's capacity behind it
// and room for the whole block. None when there is no such marker.
std::optional<size_t> FindPackageBlock(const uint8_t* data, size_t size);
// The markers outside the archive area of that block (all of them when there is none): the
// scrambled archive holds none, and its 18,000,000 bytes need no search.
MarkerOffsets FindMarkersOutsideTheArea(const uint8_t* data, size_t size);

struct Settings {
  uint32_t job = 0;  // as stored; 0 and 1 are the JobKind values
  uint32_t key = 0;
};

class PackageImage {
 public:
  // Throws ToolError when the file cannot be read or is too large to hold a package.
  static PackageImage Load(const std::string& native_path);

  bool is_installer() const { return block_offset_.has_value(); }
  // The archive, in memory.
  const uint8_t* archive() const;
  // Where the archive begins in the file, and its size.
  size_t archive_offset() const;
  size_t archive_size() const;

  // Installer images only.
  size_t block_offset() const { return *block_offset_; }
  size_t package_marker_count() const { return package_markers_.size(); }
  size_t settings_record_count() const { return settings_records_.size(); }
  // The caption's length byte and the caption (at most 40 characters of it).
  uint8_t caption_length() const;
  std::string caption() const;
  // The settings record, when the image holds exactly one.
  std::optional<Settings> settings() const;

  size_t file_size() const { return file_size_; }
  // The whole file, in memory.
  const uint8_t* file_bytes() const { return file_.data(); }

 private:
  host::MappedFile file_;
  size_t file_size_ = 0;
  std::vector<size_t> package_markers_;
  std::vector<size_t> settings_records_;
  std::vector<Settings> settings_values_;  // one per settings record
  std::optional<size_t> block_offset_;
  std::array<uint8_t, archive::kPackageHeadSize> block_head_{};

  friend class PackageImageFindings;
};

// The key for reading `image`: the one given, else an installer's stored key, else (raw archive)
// the default. Throws ToolError for an installer without exactly one settings record when no key
// was given.
uint32_t KeyFor(const PackageImage& image, const std::optional<uint32_t>& given_key);

std::string HexKey(uint32_t key);  // "0x5EC7A11E"

}  // namespace setup_pack
