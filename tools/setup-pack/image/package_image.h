// A file that holds a package: either a raw archive (the archive is the whole file) or a built
// installer image (the archive is the area of its package block, found by the block's marker and
// its capacity of 18,000,000). Load reads the file into memory once, and list, verify and extract
// work on that copy: a file changed while they run cannot change what they see.
#pragma once

#include <array>
#include <cstdlib>
#include <memory>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/package_block.h"
#include "archive/package_check.h"
#include "archive/settings_record.h"
#include "host/files.h"
#include "host/mapped_file.h"
#include "tools/setup-pack/image/block_location.h"
#include "tools/setup-pack/image/pe_layout.h"

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
  std::optional<BlockLocation> block;  // FindMarkersOutsideTheArea only: the block it found
};
MarkerOffsets FindMarkers(const uint8_t* data, size_t size);
// The markers outside the stored archive area of the package block (see FindPackageBlock; all
// of them when there is none): the scrambled archive holds none, and its bytes need no search.
MarkerOffsets FindMarkersOutsideTheArea(const uint8_t* data, size_t size, const PeLayout* pe);

struct Settings {
  uint32_t job = 0;  // as stored; 0 and 1 are the JobKind values
  uint32_t key = 0;
  archive::ArchiveCheck check;
};

class PackageImage {
 public:
  // Throws ToolError when the file cannot be read or is too large to hold a package.
  static PackageImage Load(const std::string& native_path);

  bool is_installer() const { return block_.has_value(); }
  // The archive, in memory: a raw archive's bytes, or an installer's whole archive area, where
  // the part that the file does not store reads as zeros.
  const uint8_t* archive() const;
  // Where the archive begins in the file, and its size.
  size_t archive_offset() const;
  size_t archive_size() const;

  // Installer images only.
  size_t block_offset() const { return block_->offset; }
  // The bytes of the archive area that the file stores (the rest are zeros in memory).
  size_t stored_area_size() const { return block_->stored - archive::kPackageHeadSize; }
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
  std::optional<BlockLocation> block_;
  std::array<uint8_t, archive::kPackageHeadSize> block_head_{};
  // An area stored in part, with its zeros: allocated zeroed, only what the file stores is
  // copied in.
  std::unique_ptr<uint8_t, void (*)(void*)> whole_area_{nullptr, std::free};

  friend class PackageImageFindings;
};

// The key for reading `image`: the one given, else an installer's stored key, else (raw archive)
// the default. Throws ToolError for an installer without exactly one settings record when no key
// was given.
uint32_t KeyFor(const PackageImage& image, const std::optional<uint32_t>& given_key);

std::string HexKey(uint32_t key);  // "0x5EC7A11E"

}  // namespace setup_pack
