#include "archive/entry_header.h"

#include <cstring>
#include <stdexcept>

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

}  // namespace archive
