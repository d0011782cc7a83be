// An installer program being turned into a built installer: the template's package block and
// settings record located and their new contents kept in memory, then the built image written out
// in one pass (see image_composer.h): the template's bytes, with the block's head and the
// settings record as set here and the archive in the archive area. The template is read once,
// through a read-only view of its file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "archive/package_block.h"
#include "archive/settings_record.h"
#include "host/mapped_file.h"
#include "tools/setup-pack/image/authenticode.h"
#include "tools/setup-pack/image/block_location.h"
#include "tools/setup-pack/image/execution_level.h"
#include "tools/setup-pack/image/pe_layout.h"

namespace setup_pack {

class InstallerTemplate {
 public:
  // Throws ToolError when the file cannot be read, or when the package block's marker or the
  // settings record's marker is missing or occurs more than once, or the block is not whole.
  static InstallerTemplate Load(const std::string& native_path);

  void SetCaption(const std::string& ansi_caption);  // at most 40 characters
  uint32_t stored_job() const;                       // as the template stores it
  void SetJob(archive::JobKind job);
  void SetKey(uint32_t key);

  // The size of the template's Authenticode signature (the certificate table of a PE image); 0
  // when it carries none or is no PE image.
  uint32_t signature_size() const;
  // Leaves the certificate table and its directory entry out of the built image and gives it the
  // checksum the template had before it was signed: the built image is then the one the unsigned
  // template gives. Throws ToolError when the table does not stand alone at the end of the file,
  // the only place it can be cut from.
  void DropSignature();

  // Hands the archive's bytes, in order, to the sink it is given.
  using ArchiveSink = std::function<void(const uint8_t* data, size_t size)>;
  using ArchiveSource = std::function<void(const ArchiveSink& sink)>;

  // Writes the built image to `native_out` under a temporary name and renames it into place: the
  // template's bytes, the archive from `archive` in the archive area, the zeros after it that the
  // file stores, the archive's length and check in the settings record, and the execution level
  // that the job needs in the manifest. Returns the archive's size. Throws ToolError when the archive outgrows the area (nothing is written
  // then) or a file cannot be read or written.
  size_t WriteTo(const std::string& native_out, const ArchiveSource& archive) const;

 private:
  std::string path_;
  host::MappedFile file_;
  size_t file_size_ = 0;
  std::optional<PeLayout> layout_;  // none: no PE image
  BlockLocation block_;
  size_t settings_offset_ = 0;
  std::array<uint8_t, archive::kPackageHeadSize> block_head_{};
  std::array<uint8_t, sizeof(archive::SettingsRecord)> settings_record_{};
  std::optional<PeSignature> pe_;  // none: no PE image
  bool drop_signature_ = false;
  std::optional<ExecutionLevelField> level_;  // none: the template has no manifest asking one
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
