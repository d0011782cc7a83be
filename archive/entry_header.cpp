#include "archive/entry_header.h"

#include <cstring>
#include <stdexcept>

#include "archive/transform.h"

namespace archive {

std::string EntryName(const EntryHeader& header) {
  return std::string(reinterpret_cast<const char*>(header.name + 1), header.name[0]);
}

void SetEntryName(EntryHeader& header, const std::string& name) {
  if (name.size() > kMaxEntryNameLength) {
    throw std::length_error("Entry name longer than 255 characters: \"" + name + "\"");
  }
  std::memset(header.name, 0, sizeof header.name);
  header.name[0] = static_cast<uint8_t>(name.size());
  std::memcpy(header.name + 1, name.data(), name.size());
}

EntryHeader DecodeHeader(const uint8_t (&stored)[kEntryHeaderSize]) {
  uint8_t bytes[kEntryHeaderSize];
  std::memcpy(bytes, stored, kEntryHeaderSize);
  TransformHeader(bytes);
  EntryHeader header;
  std::memcpy(&header, bytes, kEntryHeaderSize);
  return header;
}

}  // namespace archive
