#include "tools/setup-pack/image/installer_template.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <utility>
#include <vector>

#include "archive/package_block.h"
#include "host/files.h"
#include "host/host_error.h"
#include "tools/setup-pack/cli/tool_error.h"
#include "tools/setup-pack/image/output_file.h"
#include "tools/setup-pack/image/package_image.h"
#include "tools/setup-pack/text/archive_text.h"

namespace setup_pack {
namespace {

// The settings fields that a build sets (job and key); the rest of the record is the template's.
constexpr size_t kSettingsFieldsOffset = offsetof(archive::SettingsRecord, job);
constexpr size_t kSettingsFieldsSize = offsetof(archive::SettingsRecord, reserved) -
                                       offsetof(archive::SettingsRecord, job);

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

// Bytes that a build puts over the template's at a file offset.
struct Overlay {
  size_t offset;
  std::vector<uint8_t> bytes;
};

// Writes the built image piece by piece, in order, putting the overlays over whatever bytes of
// the image fall on them.
class ImageWriter {
 public:
  ImageWriter(PendingOutput& out, std::vector<Overlay> overlays)
      : out_(out), overlays_(std::move(overlays)) {}

  void Write(const uint8_t* data, size_t size) {
    const size_t begin = position_;
    const size_t end = position_ + size;
    position_ = end;
    const uint8_t* bytes = data;
    for (const Overlay& overlay : overlays_) {
      const size_t overlay_end = overlay.offset + overlay.bytes.size();
      if (end <= overlay.offset || begin >= overlay_end) continue;
      if (bytes == data) {
        patched_.assign(data, data + size);
        bytes = patched_.data();
      }
      for (size_t at = std::max(begin, overlay.offset); at < std::min(end, overlay_end); ++at) {
        patched_[at - begin] = overlay.bytes[at - overlay.offset];
      }
    }
    out_.Write(bytes, size);
  }

 private:
  PendingOutput& out_;
  size_t position_ = 0;
  std::vector<Overlay> overlays_;
  std::vector<uint8_t> patched_;
};

std::vector<uint8_t> LittleEndian32(uint32_t value) {
  std::vector<uint8_t> bytes(4);
  archive::WriteLittleEndian32(bytes.data(), value);
  return bytes;
}

// Zeros for the archive area after the archive, written a piece at a time.
constexpr size_t kZeroPiece = size_t{64} << 10;
const uint8_t kZeros[kZeroPiece] = {};

}  // namespace

InstallerTemplate InstallerTemplate::Load(const std::string& native_path) {
  InstallerTemplate image;
  image.path_ = native_path;
  image.file_ = MapInput(native_path);
  image.file_size_ = image.file_.size();
  const uint8_t* const bytes = image.file_.data();
  const MarkerOffsets markers = FindMarkersOutsideTheArea(bytes, image.file_size_);
  image.block_offset_ = CheckUnique(markers.package_blocks, "package block", native_path);
  const uint32_t capacity =
      image.block_offset_ + archive::kPackageHeadSize <= image.file_size_
          ? archive::StoredCapacity(bytes + image.block_offset_)
          : 0;
  if (capacity != static_cast<uint32_t>(archive::kArchiveCapacity) ||
      image.block_offset_ + sizeof(archive::PackageBlock) > image.file_size_) {
    throw ToolError("the package block of \"" + native_path +
                    "\" is not whole: its capacity field says " + std::to_string(capacity) +
                    " and " + std::to_string(image.file_size_ - image.block_offset_) +
                    " bytes follow its marker; expected a capacity of 18000000 and 18000056 "
                    "bytes");
  }
  std::memcpy(image.block_head_.data(), bytes + image.block_offset_, image.block_head_.size());
  image.settings_offset_ = CheckUnique(markers.settings_records, "settings record", native_path);
  if (image.settings_offset_ + sizeof(archive::SettingsRecord) > image.file_size_) {
    throw ToolError("the settings record of \"" + native_path + "\" is cut short");
  }
  std::memcpy(image.settings_record_.data(), bytes + image.settings_offset_,
              image.settings_record_.size());
  image.pe_ = ReadPeSignature(bytes, std::min(kPeHeadBytes, image.file_size_), image.file_size_);
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
  const size_t records_end = std::max(block_offset_ + sizeof(archive::PackageBlock),
                                      settings_offset_ + sizeof(archive::SettingsRecord));
  if (!pe_->at_end(file_size_) || pe_->table_offset < records_end) {
    throw ToolError("the certificate table of \"" + path_ + "\" (" +
                    std::to_string(pe_->table_size) + " bytes at offset " +
                    std::to_string(pe_->table_offset) +
                    ") is not at the end of the image, where a signing tool puts it; it cannot "
                    "be cut off");
  }
  // The checksum the image had before it was signed: that of its bytes without the table, with
  // a security entry of zeros.
  const uint8_t* const bytes = file_.data();
  const size_t entry = *pe_->security_entry_offset;
  const uint8_t no_entry[8] = {};
  PeChecksum checksum(pe_->checksum_offset);
  checksum.Add(bytes, entry);
  checksum.Add(no_entry, sizeof no_entry);
  checksum.Add(bytes + entry + sizeof no_entry, pe_->table_offset - entry - sizeof no_entry);
  unsigned_checksum_ = checksum.Finish();
  drop_signature_ = true;
}

size_t InstallerTemplate::WriteTo(const std::string& native_out,
                                  const ArchiveSource& archive) const {
  try {
    PendingOutput out(native_out);
    std::vector<Overlay> overlays = {
        {settings_offset_ + kSettingsFieldsOffset,
         std::vector<uint8_t>(settings_record_.begin() + kSettingsFieldsOffset,
                              settings_record_.begin() + kSettingsFieldsOffset +
                                  kSettingsFieldsSize)}};
    size_t image_end = file_size_;
    if (drop_signature_) {
      overlays.push_back({*pe_->security_entry_offset, std::vector<uint8_t>(8, 0)});
      overlays.push_back({pe_->checksum_offset, LittleEndian32(unsigned_checksum_)});
      image_end = pe_->table_offset;
    }
    ImageWriter image(out, std::move(overlays));
    const uint8_t* const bytes = file_.data();
    image.Write(bytes, block_offset_);
    image.Write(block_head_.data(), block_head_.size());
    const auto capacity = static_cast<size_t>(archive::kArchiveCapacity);
    size_t filled = 0;
    archive([&](const uint8_t* data, size_t size) {
      if (size > capacity - filled) {
        throw ToolError("the archive grew beyond the package block while it was being written");
      }
      image.Write(data, size);
      filled += size;
    });
    for (size_t left = capacity - filled; left > 0;) {
      const size_t piece = std::min(left, kZeroPiece);
      image.Write(kZeros, piece);
      left -= piece;
    }
    const size_t block_end = block_offset_ + sizeof(archive::PackageBlock);
    image.Write(bytes + block_end, image_end - block_end);
    out.Commit(path_);
    return filled;
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
