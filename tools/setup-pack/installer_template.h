// An installer program being turned into a built installer: a copy of the template's bytes in
// memory with its package block and settings record located, filled, and written out whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/settings_record.h"

namespace setup_pack {

class InstallerTemplate {
 public:
  // Throws ToolError when the file cannot be read, or when the package block's marker or the
  // settings record's marker is missing or occurs more than once, or the block is not whole.
  static InstallerTemplate Load(const std::string& native_path);

  // The archive area (18,000,000 bytes) to fill; FinishArchive zeroes what follows the archive.
  uint8_t* archive_area();
  void FinishArchive(size_t archive_size);

  void SetCaption(const std::string& ansi_caption);  // at most 40 characters
  uint32_t stored_job() const;                       // as the template stores it
  void SetJob(archive::JobKind job);
  void SetKey(uint32_t key);

  // Writes the image to `native_out` under a temporary name and renames it into place.
  void WriteTo(const std::string& native_out) const;

 private:
  std::string path_;
  std::vector<uint8_t> bytes_;
  size_t block_offset_ = 0;
  size_t settings_offset_ = 0;
};

// Shared by embed and build: the caption option converted to ANSI text and checked (ToolError
// beyond 40 characters or when ANSI text cannot spell it).
std::optional<std::string> CheckedCaption(const std::optional<std::string>& native_caption);

// Fills caption, job and key of a built installer from the command line, and warns when a
// library package carries no manifest.
struct InstallerSettings {
  std::optional<std::string> caption;  // ANSI; none keeps the template's
  std::optional<archive::JobKind> job; // none keeps the template's
  uint32_t key = 0;
};
void ApplySettings(InstallerTemplate& image, const InstallerSettings& settings,
                   bool package_has_manifest);

}  // namespace setup_pack
