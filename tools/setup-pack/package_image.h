// A file that holds a package: either a raw archive (the archive is the whole file) or a built
// installer image (the archive is the area of its package block, found by the block's marker and
// its capacity of 18,000,000). The file is read into memory once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/settings_record.h"

namespace setup_pack {

std::vector<uint8_t> ReadWholeFile(const std::string& native_path);  // throws ToolError

// Offsets of every occurrence of `pattern` in `bytes`.
std::vector<size_t> FindAll(const std::vector<uint8_t>& bytes, const uint8_t* pattern,
                            size_t pattern_size);

struct Settings {
  uint32_t job = 0;  // as stored; 0 and 1 are the JobKind values
  uint32_t key = 0;
};

class PackageImage {
 public:
  // Throws ToolError when the file cannot be read or is too large to hold a package.
  static PackageImage Load(const std::string& native_path);

  bool is_installer() const { return block_offset_.has_value(); }
  const uint8_t* archive() const;
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

  size_t file_size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<size_t> package_markers_;
  std::vector<size_t> settings_records_;
  std::optional<size_t> block_offset_;
};

// The key for reading `image`: the one given, else an installer's stored key, else (raw archive)
// the default. Throws ToolError for an installer without exactly one settings record when no key
// was given.
uint32_t KeyFor(const PackageImage& image, const std::optional<uint32_t>& given_key);

std::string HexKey(uint32_t key);  // "0x5EC7A11E"

}  // namespace setup_pack
