#include "tools/setup-pack/installer_template.h"

#include <cstring>
#include <iostream>

#include "archive/package_block.h"
#include "tools/setup-pack/archive_text.h"
#include "tools/setup-pack/output_file.h"
#include "tools/setup-pack/package_image.h"
#include "tools/setup-pack/tool_error.h"

namespace setup_pack {
namespace {

size_t FindUnique(const std::vector<uint8_t>& bytes, const uint8_t* marker, size_t marker_size,
                  const std::string& what, const std::string& path) {
  const std::vector<size_t> found = FindAll(bytes, marker, marker_size);
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
  image.bytes_ = ReadWholeFile(native_path);
  image.block_offset_ = FindUnique(image.bytes_, archive::kPackageMarker,
                                   archive::kMarkerFieldSize, "package block", native_path);
  const uint32_t capacity = archive::ReadLittleEndian32(
      image.bytes_.data() + image.block_offset_ + offsetof(archive::PackageBlock, capacity));
  if (capacity != static_cast<uint32_t>(archive::kArchiveCapacity) ||
      image.block_offset_ + sizeof(archive::PackageBlock) > image.bytes_.size()) {
    throw ToolError("the package block of \"" + native_path +
                    "\" is not whole: its capacity field says " + std::to_string(capacity) +
                    " and " + std::to_string(image.bytes_.size() - image.block_offset_) +
                    " bytes follow its marker; expected a capacity of 18000000 and 18000056 bytes");
  }
  image.settings_offset_ = FindUnique(image.bytes_, archive::kSettingsMarker,
                                      archive::kSettingsMarkerSize, "settings record", native_path);
  if (image.settings_offset_ + sizeof(archive::SettingsRecord) > image.bytes_.size()) {
    throw ToolError("the settings record of \"" + native_path + "\" is cut short");
  }
  return image;
}

uint8_t* InstallerTemplate::archive_area() {
  return bytes_.data() + block_offset_ + archive::kPackageHeadSize;
}

void InstallerTemplate::FinishArchive(size_t archive_size) {
  std::memset(archive_area() + archive_size, 0,
              static_cast<size_t>(archive::kArchiveCapacity) - archive_size);
}

void InstallerTemplate::SetCaption(const std::string& ansi_caption) {
  uint8_t* field = bytes_.data() + block_offset_ + offsetof(archive::PackageBlock, caption);
  std::memset(field, 0, archive::kCaptionFieldSize);
  field[0] = static_cast<uint8_t>(ansi_caption.size());
  std::memcpy(field + 1, ansi_caption.data(), ansi_caption.size());
}

uint32_t InstallerTemplate::stored_job() const {
  return archive::ReadLittleEndian32(bytes_.data() + settings_offset_ +
                                     offsetof(archive::SettingsRecord, job));
}

void InstallerTemplate::SetJob(archive::JobKind job) {
  archive::WriteLittleEndian32(bytes_.data() + settings_offset_ +
                                   offsetof(archive::SettingsRecord, job),
                               static_cast<uint32_t>(job));
}

void InstallerTemplate::SetKey(uint32_t key) {
  archive::WriteLittleEndian32(
      bytes_.data() + settings_offset_ + offsetof(archive::SettingsRecord, key), key);
}

void InstallerTemplate::WriteTo(const std::string& native_out) const {
  PendingOutput out(native_out);
  out.Write(bytes_.data(), bytes_.size());
  out.Commit(path_);
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
