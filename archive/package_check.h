// The check an installer makes of its own package before anything else: the archive's length and
// a CRC-32 of its bytes as stored (scrambled), which the packing tool writes into the settings
// record. A download cut short or damaged on the way gives a mismatch, and the installer refuses
// to run rather than install broken files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace archive {

// CRC-32 as zip, PNG and Ethernet define it (polynomial 0xEDB88320 reflected, initial value and
// final XOR 0xFFFFFFFF), continued from `crc` (the CRC of the bytes before; 0 for none).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

struct ArchiveCheck {
  uint32_t length = 0;  // 0: nothing to check (an image from an older tool)
  uint32_t crc = 0;
};

ArchiveCheck CheckOfArchive(const uint8_t* archive, size_t size);

// Whether an archive area of `area_size` bytes holds the archive the check describes: true for
// a check of length 0, false when the length exceeds the area or the CRC differs.
bool AreaMatchesCheck(const uint8_t* area, size_t area_size, const ArchiveCheck& check);

}  // namespace archive
