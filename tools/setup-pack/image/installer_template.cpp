#include "tools/setup-pack/image/installer_template.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <utility>
#include <vector>

#include "archive/package_block.h"
#include "archive/package_check.h"
#include "host/files.h"
#include "host/host_error.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/image/execution_level.h"
#include "tools/setup-pack/image/image_composer.h"
#include "tools/setup-pack/image/output_file.h"
#include "tools/setup-pack/image/package_image.h"
#include "tools/setup-pack/text/archive_text.h"

namespace setup_pack {
namespace {

// The settings fields that a build sets (job, key and the archive's check); the marker is the
// template's.
constexpr size_t kSettingsFieldsOffset = offsetof(archive::SettingsRecord, job);

size_t CheckUnique(const std::vector<size_t>& found, const std::string& what,
                   const std::string& path) {
  if (found.empty()) {
    throw ToolError("\"" + path + "\" has no " + what +
                    " (its marker was not found); is it an installer program?");
  }
  if (found.size() > 1) {
    throw ToolError("\"" + path + "\" holds the marker of the " + what + " " +
                    std::to_string(found.size()) + " times; it must occur exactly once");
  }
  return found.front();
}

}  // namespace

InstallerTemplate InstallerTemplate::Load(const std::string& native_path) {
  InstallerTemplate image;
  image.path_ = native_path;
  image.file_ = MapInput(native_path);
  image.file_size_ = image.file_.size();
  const uint8_t* const bytes = image.file_.data();
  const size_t head_size = std::min(kPeHeadBytes, image.file_size_);
  image.layout_ = ReadPeLayout(bytes, head_size);
  const PeLayout* const pe = image.layout_ ? &*image.layout_ : nullptr;
  const MarkerOffsets markers = FindMarkersOutsideTheArea(bytes, image.file_size_, pe);
  const size_t block_offset = CheckUnique(markers.package_blocks, "package block", native_path);
  if (!markers.block || markers.block->offset != block_offset) {
    const uint32_t capacity = block_offset + archive::kPackageHeadSize <= image.file_size_
                                  ? archive::StoredCapacity(bytes + block_offset)
                                  : 0;
    throw ToolError("the package block of \"" + native_path +
                    "\" is not whole: its capacity field says " + std::to_string(capacity) +
                    " and " + std::to_string(image.file_size_ - block_offset) +
                    " bytes follow its marker; expected a capacity of 18000000 and 18000056 "
                    "bytes, in the file or in the memory of its section");
  }
  image.block_ = *markers.block;
  if (pe && pe->raw_end() > image.file_size_) {
    throw ToolError("the package block of \"" + native_path +
                    "\" is not whole: the file ends at byte " + std::to_string(image.file_size_) +
                    ", before the end of its sections' data at byte " +
                    std::to_string(pe->raw_end()) + " (a copy cut short looks like this)");
  }
  std::memcpy(image.block_head_.data(), bytes + block_offset, image.block_head_.size());
  image.settings_offset_ = CheckUnique(markers.settings_records, "settings record", native_path);
  if (image.settings_offset_ + sizeof(archive::SettingsRecord) > image.file_size_) {
    throw ToolError("the settings record of \"" + native_path + "\" is cut short");
  }
  std::memcpy(image.settings_record_.data(), bytes + image.settings_offset_,
              image.settings_record_.size());
  if (pe) image.pe_ = ReadPeSignature(*pe, bytes, image.file_size_);
  const size_t area = block_offset + archive::kPackageHeadSize;
  image.level_ =
      FindExecutionLevel(bytes, image.file_size_, area, block_offset + image.block_.stored);
  return image;
}

void InstallerTemplate::SetCaption(const std::string& ansi_caption) {
  archive::StoreCaption(block_head_.data(), ansi_caption);
}

uint32_t InstallerTemplate::stored_job() const { return archive::StoredJob(settings_record_.data()); }

void InstallerTemplate::SetJob(archive::JobKind job) {
  archive::StoreJob(settings_record_.data(), job);
}

void InstallerTemplate::SetKey(uint32_t key) { archive::StoreKey(settings_record_.data(), key); }

uint32_t InstallerTemplate::signature_size() const { return pe_ ? pe_->table_size : 0; }

void InstallerTemplate::DropSignature() {
  if (signature_size() == 0) return;
  const size_t records_end = std::max(block_.offset + block_.stored,
                                      settings_offset_ + sizeof(archive::SettingsRecord));
  if (!pe_->at_end(file_size_) || pe_->table_offset < records_end) {
    throw ToolError("the certificate table of \"" + path_ + "\" (" +
                    std::to_string(pe_->table_size) + " bytes at offset " +
                    std::to_string(pe_->table_offset) +
                    ") is not at the end of the image, where a signing tool puts it; it cannot "
                    "be cut off");
  }
  drop_signature_ = true;
}

size_t InstallerTemplate::WriteTo(const std::string& native_out,
                                  const ArchiveSource& archive) const {
  // The archive is gathered first: where the block's section ends, and so where every later
  // section's data lies, depends on its size.
  std::vector<uint8_t> archive_bytes;
  const auto capacity = static_cast<size_t>(archive::kArchiveCapacity);
  archive([&](const uint8_t* data, size_t size) {
    if (size > capacity - archive_bytes.size()) {
      throw ToolError("the archive grew beyond the package block while it was being written");
    }
    archive_bytes.insert(archive_bytes.end(), data, data + size);
  });
  std::array<uint8_t, sizeof(archive::SettingsRecord)> settings = settings_record_;
  archive::StoreArchiveCheck(settings.data(), archive::CheckOfArchive(archive_bytes.data(),
                                                                      archive_bytes.size()));
  std::vector<Overlay> overlays = {
      {settings_offset_ + kSettingsFieldsOffset,
       std::vector<uint8_t>(settings.begin() + kSettingsFieldsOffset, settings.end())}};
  if (level_) {
    const auto job = static_cast<archive::JobKind>(stored_job());
    overlays.push_back({level_->offset, ExecutionLevelBytes(ExecutionLevelFor(job), level_->size)});
  }
  ImageTemplate image{file_.data(), file_size_, block_, layout_};
  if (drop_signature_) {
    overlays.push_back({*pe_->security_entry_offset, std::vector<uint8_t>(8, 0)});
    image.end = pe_->table_offset;
  }
  try {
    PendingOutput out(native_out);
    ComposeInstaller(image, std::move(overlays), block_head_.data(), archive_bytes.data(),
                     archive_bytes.size(),
                     [&out](const uint8_t* data, size_t size) { out.Write(data, size); });
    out.Commit(path_);
    return archive_bytes.size();
  } catch (const host::HostError& error) {
    throw ToolError(error.what());
  }
}

std::optional<std::string> CheckedCaption(const std::optional<std::string>& native_caption) {
  if (!native_caption) return std::nullopt;
  const std::optional<std::string> ansi = ToArchiveText(*native_caption);
  if (!ansi) throw ToolError("the caption cannot be written in ANSI (Windows-1252) text");
  if (ansi->size() > archive::kMaxCaptionLength) {
    throw ToolError("the caption is " + std::to_string(ansi->size()) +
                    " characters long; the window shows at most 40");
  }
  return ansi;
}

void ApplySettings(InstallerTemplate& image, const InstallerSettings& settings,
                   bool package_has_manifest) {
  if (settings.caption) image.SetCaption(*settings.caption);
  if (settings.job) image.SetJob(*settings.job);
  image.SetKey(settings.key);
  const bool library_job =
      image.stored_job() == static_cast<uint32_t>(archive::JobKind::kLibraryPackage);
  if (library_job && !package_has_manifest) {
    std::cerr << "setup-pack: warning: the package has no id.txt; the library package job will "
                 "install it into the folder Vexilor below the temporary folder\n";
  }
}

}  // namespace setup_pack
