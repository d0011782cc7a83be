// One archive entry is a 272-byte header, stored scrambled with the header transform, followed by
// exactly `size` bytes of data scrambled with the data transform. There is no archive header,
// directory, checksum or end mark: the walk ends where no further header can be read.
//
//   offset  width  field
//   0       4      k0..k3: seed bytes of the keystream words S0..S3
//   4       256    name: length byte, then up to 255 ANSI characters, backslash-separated
//   260     4      size: signed 32-bit count of data bytes that follow the header
//   264     4      attributes: Windows attribute bits; 0x10 marks a folder entry
//   268     4      modified: DOS date-time in local time (date high 16 bits, time low 16 bits)
//
// Integers are little-endian; the struct relies on a little-endian host (x86, the only one built).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace archive {

constexpr size_t kEntryHeaderSize = 272;
constexpr size_t kMaxEntryNameLength = 255;
constexpr uint32_t kFolderAttribute = 0x10;

struct EntryHeader {
  uint8_t seeds[4];
  uint8_t name[256];
  int32_t size;
  uint32_t attributes;
  uint32_t modified;
};

static_assert(offsetof(EntryHeader, seeds) == 0);
static_assert(offsetof(EntryHeader, name) == 4);
static_assert(offsetof(EntryHeader, size) == 260);
static_assert(offsetof(EntryHeader, attributes) == 264);
static_assert(offsetof(EntryHeader, modified) == 268);
static_assert(sizeof(EntryHeader) == kEntryHeaderSize);

// The entry's name as a string (the length byte's count of characters).
std::string EntryName(const EntryHeader& header);
// Stores `name` (at most 255 characters; longer names are the caller's error) and zero-fills the
// rest of the field.
void SetEntryName(EntryHeader& header, const std::string& name);

// A header as stored (scrambled) made readable: the header transform undone.
EntryHeader DecodeHeader(const uint8_t (&stored)[kEntryHeaderSize]);

inline bool IsFolderEntry(const EntryHeader& header) {
  return (header.attributes & kFolderAttribute) != 0;
}

}  // namespace archive
