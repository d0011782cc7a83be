#include "app/package_data.h"

#include "archive/archive_writer.h"

namespace app {
namespace {

constexpr uint8_t ByteOf(uint32_t value, int index) {
  return static_cast<uint8_t>(value >> (8 * index));
}

constexpr uint32_t kCapacity = static_cast<uint32_t>(archive::kArchiveCapacity);
constexpr uint32_t kJob = static_cast<uint32_t>(archive::JobKind::kLibraryPackage);
constexpr uint32_t kKey = archive::kDefaultArchiveKey;

}  // namespace

// The markers are spelled element by element so that no copy of the marker arrays is emitted:
// each marker must occur exactly once in the image, here. A non-zero initializer keeps the whole
// block (head and the 18,000,000-byte area) in initialized data, where the tool can fill it. The
// block has a section of its own, which it ends: the file need store the section only up to the
// end of the archive, and the loader gives the rest of the area as zeros (the build stores the
// template that way, and the tool every installer).
__attribute__((used, section(".package"))) archive::PackageBlock InstallerPackage = {
    {archive::kPackageMarker[0], archive::kPackageMarker[1], archive::kPackageMarker[2],
     archive::kPackageMarker[3], archive::kPackageMarker[4], archive::kPackageMarker[5],
     archive::kPackageMarker[6], archive::kPackageMarker[7], archive::kPackageMarker[8],
     archive::kPackageMarker[9], archive::kPackageMarker[10]},
    {ByteOf(kCapacity, 0), ByteOf(kCapacity, 1), ByteOf(kCapacity, 2), ByteOf(kCapacity, 3)},
    {},
    {},
};

__attribute__((used)) archive::SettingsRecord InstallerSettings = {
    {archive::kSettingsMarker[0], archive::kSettingsMarker[1], archive::kSettingsMarker[2],
     archive::kSettingsMarker[3], archive::kSettingsMarker[4], archive::kSettingsMarker[5],
     archive::kSettingsMarker[6], archive::kSettingsMarker[7], archive::kSettingsMarker[8],
     archive::kSettingsMarker[9], archive::kSettingsMarker[10], archive::kSettingsMarker[11],
     archive::kSettingsMarker[12], archive::kSettingsMarker[13], archive::kSettingsMarker[14],
     archive::kSettingsMarker[15]},
    {ByteOf(kJob, 0), ByteOf(kJob, 1), ByteOf(kJob, 2), ByteOf(kJob, 3)},
    {ByteOf(kKey, 0), ByteOf(kKey, 1), ByteOf(kKey, 2), ByteOf(kKey, 3)},
    {},
    {},
};

}  // namespace app
