// A stand-in for the installer program: it carries a package block and a settings record in its
// initialized data, as the real one does, and prints what the archive reader finds in them, so
// the tests can embed packages into it and check the result from inside the running image.
//
// Output, one item a line: "job N", "key 0xK", "caption TEXT", "manifest S D" (the manifest's two
// values), then "entry NAME SIZE" for each entry of the walk, then "extract OK" or
// "extract FAILED" after extracting every entry of the part named by the first argument (when
// given) into the folder named by the second.
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/Stacker.h"
#include "archive/archive_writer.h"
#include "archive/manifest.h"
#include "archive/package_block.h"
#include "archive/settings_record.h"
#include "host/files.h"

namespace {

constexpr uint8_t Byte(uint32_t value, int shift) { return static_cast<uint8_t>(value >> shift); }

constexpr uint32_t kCapacity = static_cast<uint32_t>(archive::kArchiveCapacity);
constexpr uint32_t kKey = archive::kDefaultArchiveKey;

}  // namespace

// Non-const with a non-zero initializer: the whole record lands in the image's initialized data,
// and reads of it are not folded to what the compiler believes is there.
archive::PackageBlock g_package_block = {
    {archive::kPackageMarker[0], archive::kPackageMarker[1], archive::kPackageMarker[2],
     archive::kPackageMarker[3], archive::kPackageMarker[4], archive::kPackageMarker[5],
     archive::kPackageMarker[6], archive::kPackageMarker[7], archive::kPackageMarker[8],
     archive::kPackageMarker[9], archive::kPackageMarker[10]},
    {Byte(kCapacity, 0), Byte(kCapacity, 8), Byte(kCapacity, 16), Byte(kCapacity, 24)},
    {8, 'T', 'e', 's', 't', 'b', 'e', 'd', '!'},
    {}};

archive::SettingsRecord g_settings_record = {
    {archive::kSettingsMarker[0], archive::kSettingsMarker[1], archive::kSettingsMarker[2],
     archive::kSettingsMarker[3], archive::kSettingsMarker[4], archive::kSettingsMarker[5],
     archive::kSettingsMarker[6], archive::kSettingsMarker[7], archive::kSettingsMarker[8],
     archive::kSettingsMarker[9], archive::kSettingsMarker[10], archive::kSettingsMarker[11],
     archive::kSettingsMarker[12], archive::kSettingsMarker[13], archive::kSettingsMarker[14],
     archive::kSettingsMarker[15]},
    {0, 0, 0, 0},
    {Byte(kKey, 0), Byte(kKey, 8), Byte(kKey, 16), Byte(kKey, 24)},
    {},
    {}};

int main(int argc, char** argv) {
  const uint32_t key = archive::ReadLittleEndian32(g_settings_record.key);
  std::printf("job %u\n", static_cast<unsigned>(archive::ReadLittleEndian32(g_settings_record.job)));
  std::printf("key 0x%08X\n", static_cast<unsigned>(key));
  std::printf("caption %.*s\n", g_package_block.caption[0] > 40 ? 40 : g_package_block.caption[0],
              reinterpret_cast<const char*>(g_package_block.caption + 1));

  archive::SetArchiveMemory(g_package_block.archive, archive::kArchiveCapacity);
  archive::SetArchiveKey(key);
  archive::SetBlockStreamLength(archive::kInstallerBlockStreamLength);
  archive::ReadManifest();
  std::printf("manifest %s %s\n", archive::ManifestIdeSpec.c_str(),
              archive::ManifestFolderName.c_str());

  archive::EntryHeader header{};
  for (bool found = archive::OpenArchive("", "", header); found;
       found = archive::FindNextEntry(header)) {
    std::printf("entry %s %d\n", archive::EntryName(header).c_str(), static_cast<int>(header.size));
  }
  archive::CloseArchive();

  if (argc < 3) return 0;
  bool ok = host::CreateFolderWithParents(argv[2]);
  for (bool found = ok && archive::OpenArchive("", argv[1], header); found;
       found = archive::FindNextEntry(header)) {
    ok = archive::ExtractEntry(header, argv[2]);
    if (!ok) break;
  }
  archive::CloseArchive();
  std::printf("extract %s\n", ok ? "OK" : "FAILED");
  return 0;
}
