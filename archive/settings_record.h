// The settings record: a small marked record of the installer image, apart from the package block,
// that tells which job OK starts and the archive key. The packing tool finds it by its marker and
// writes it; the installer reads it at start-up, so one template image serves both jobs.
//
//   offset  width  field
//   0       16     marker: the 16 marker bytes below
//   16      4      job: 0 = library package, 1 = application setup (unsigned 32-bit LE)
//   20      4      archive key K (unsigned 32-bit LE)
//   24      4      archive length: the bytes the packing tool wrote into the archive area; 0 in
//                  the template and in images of older tools (nothing to check then)
//   28      4      CRC-32 of those bytes as stored (scrambled)
//
// Like the package block, the marker bytes must appear exactly once in an installer image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/little_endian.h"
#include "archive/package_check.h"

namespace archive {

constexpr size_t kSettingsMarkerSize = 16;

enum class JobKind : uint32_t { kLibraryPackage = 0, kApplicationSetup = 1 };

struct SettingsRecord {
  uint8_t marker[kSettingsMarkerSize];
  uint8_t job[4];
  uint8_t key[4];
  uint8_t archive_length[4];
  uint8_t archive_crc[4];
};

static_assert(offsetof(SettingsRecord, job) == 16);
static_assert(offsetof(SettingsRecord, key) == 20);
static_assert(offsetof(SettingsRecord, archive_length) == 24);
static_assert(offsetof(SettingsRecord, archive_crc) == 28);
static_assert(sizeof(SettingsRecord) == 32);
static_assert(alignof(SettingsRecord) == 1);

// The settings marker. As with the package marker, only the tool and the record's own initializer
// spell these bytes.
inline constexpr uint8_t kSettingsMarker[kSettingsMarkerSize] = {
    0x7F, 'S', 'E', 'T', 'U', 'P', '-', 'S', 'E', 'T', 'T', 'I', 'N', 'G', 'S', 0x01};

// The fields of a settings record held as bytes; `record` points at its marker.
inline uint32_t StoredJob(const uint8_t* record) {
  return ReadLittleEndian32(record + offsetof(SettingsRecord, job));
}
inline uint32_t StoredKey(const uint8_t* record) {
  return ReadLittleEndian32(record + offsetof(SettingsRecord, key));
}
inline void StoreJob(uint8_t* record, JobKind job) {
  WriteLittleEndian32(record + offsetof(SettingsRecord, job), static_cast<uint32_t>(job));
}
inline void StoreKey(uint8_t* record, uint32_t key) {
  WriteLittleEndian32(record + offsetof(SettingsRecord, key), key);
}
inline ArchiveCheck StoredArchiveCheck(const uint8_t* record) {
  return ArchiveCheck{ReadLittleEndian32(record + offsetof(SettingsRecord, archive_length)),
                      ReadLittleEndian32(record + offsetof(SettingsRecord, archive_crc))};
}
inline void StoreArchiveCheck(uint8_t* record, const ArchiveCheck& check) {
  WriteLittleEndian32(record + offsetof(SettingsRecord, archive_length), check.length);
  WriteLittleEndian32(record + offsetof(SettingsRecord, archive_crc), check.crc);
}

}  // namespace archive
