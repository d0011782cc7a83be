// The package block: the record of initialized data inside the installer image that carries the
// window caption and the scrambled archive. All integers little-endian.
//
//   offset  width        field
//   0       11           marker: length byte 10, then the 10 marker characters
//   11      4            capacity: signed 32-bit, 18,000,000 (the archive area's size)
//   15      41           caption: length byte, then up to 40 ANSI characters
//   56      18,000,000   archive area: the archive, then zero bytes to the end of the area
//
// The installer itself reads neither the marker nor the capacity; they are there so that the
// packing tool can find the block in a built image. The marker bytes must appear exactly once in
// an installer image, so they are spelled out only where the block is defined and in the tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "archive/little_endian.h"

namespace archive {

constexpr int32_t kArchiveCapacity = 18'000'000;
constexpr size_t kMarkerFieldSize = 11;
constexpr size_t kCaptionFieldSize = 41;
constexpr size_t kMaxCaptionLength = 40;

struct PackageBlock {
  uint8_t marker[kMarkerFieldSize];
  uint8_t capacity[4];
  uint8_t caption[kCaptionFieldSize];
  uint8_t archive[kArchiveCapacity];
};

static_assert(offsetof(PackageBlock, marker) == 0);
static_assert(offsetof(PackageBlock, capacity) == 11);
static_assert(offsetof(PackageBlock, caption) == 15);
static_assert(offsetof(PackageBlock, archive) == 56);
static_assert(sizeof(PackageBlock) == 56 + 18'000'000);
static_assert(alignof(PackageBlock) == 1);

constexpr size_t kPackageHeadSize = offsetof(PackageBlock, archive);

// The marker field: length byte 10, then the 10 marker characters. Only the packing tool and the
// block's own initializer may spell these bytes (an installer image must hold them exactly once);
// used element by element in a constant initializer, the array itself is never emitted.
inline constexpr uint8_t kPackageMarker[kMarkerFieldSize] = {10,  'X', 'j', '2', '2', '3',
                                                             ' ', 't', 'j', '~', '@'};

// The fields of a package block's head held as bytes; `block` points at its marker field.
inline uint32_t StoredCapacity(const uint8_t* block) {
  return ReadLittleEndian32(block + offsetof(PackageBlock, capacity));
}
// The caption: its length byte's count of characters, at most 40 whatever the byte says.
inline std::string StoredCaption(const uint8_t* block) {
  const uint8_t* field = block + offsetof(PackageBlock, caption);
  const size_t length = field[0] < kMaxCaptionLength ? field[0] : kMaxCaptionLength;
  return std::string(reinterpret_cast<const char*>(field + 1), length);
}
// Stores a caption of at most 40 characters (longer ones are the caller's error) and zero-fills
// the rest of the field.
inline void StoreCaption(uint8_t* block, const std::string& caption) {
  uint8_t* field = block + offsetof(PackageBlock, caption);
  const size_t length = caption.size() < kMaxCaptionLength ? caption.size() : kMaxCaptionLength;
  std::memset(field, 0, kCaptionFieldSize);
  field[0] = static_cast<uint8_t>(length);
  std::memcpy(field + 1, caption.data(), length);
}

}  // namespace archive
