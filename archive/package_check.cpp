#include "archive/package_check.h"

#include <array>
#include <cstring>

namespace archive {
namespace {

// Slicing by eight: eight table lookups per eight bytes instead of one per byte, which a full
// 18,000,000-byte archive needs to stay well below the time a user notices at start-up. Table k
// gives the CRC of a byte followed by k zero bytes.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables tables{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) != 0 ? 0xEDB88320u : 0u);
    tables[0][byte] = crc;
  }
  for (uint32_t byte = 0; byte < 256; ++byte) {
    for (size_t k = 1; k < 8; ++k) {
      const uint32_t previous = tables[k - 1][byte];
      tables[k][byte] = (previous >> 8) ^ tables[0][previous & 0xFF];
    }
  }
  return tables;
}

constexpr Tables kTables = MakeTables();

inline uint32_t LittleEndianWord(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  crc = ~crc;
  size_t at = 0;
  for (; at + 8 <= size; at += 8) {
    const uint32_t low = LittleEndianWord(data + at) ^ crc;
    const uint32_t high = LittleEndianWord(data + at + 4);
    crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^
          kTables[5][(low >> 16) & 0xFF] ^ kTables[4][low >> 24] ^
          kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
          kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
  }
  for (; at < size; ++at) crc = (crc >> 8) ^ kTables[0][(crc ^ data[at]) & 0xFF];
  return ~crc;
}

ArchiveCheck CheckOfArchive(const uint8_t* archive, size_t size) {
  return ArchiveCheck{static_cast<uint32_t>(size), Crc32(archive, size)};
}

bool AreaMatchesCheck(const uint8_t* area, size_t area_size, const ArchiveCheck& check) {
  if (check.length == 0) return true;
  if (check.length > area_size) return false;
  return Crc32(area, check.length) == check.crc;
}

}  // namespace archive
