// Reading a folder of product files to pack, one folder at a time. Unlike the rest of the file
// layer, these take and give paths in the platform's own spelling (the packing tool's command
// line), untranslated. Implemented per platform (source_folder_posix.cpp, _win32.cpp).
//
// POSIX: a file's attributes are the read-only bit (0x01) when its owner may not write it, else
// 0; hidden and system are always clear. A symbolic link to a file is packed as that file; a link
// to a folder, and anything that is neither a regular file nor a folder, is refused.
// Windows: the attributes GetFileAttributesA reports, limited to the bits SetFileAttributesA can
// restore (read-only, hidden, system, archive); a folder that is a reparse point is refused.
// Both: the modification time as a local DOS date-time, converted with the time-zone offset in
// force now (as the platform layer converts it back), clamped to the years 1980 to 2107.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct SourceItem {
  std::string native_name;  // the item's name in its folder, platform spelling
  bool is_folder = false;
  uint64_t size = 0;        // 0 for a folder
  uint32_t attributes = 0;  // 0x10 for a folder
  uint32_t modified = 0;    // DOS date-time, local time
};

// Throws HostError when `native_path` does not exist, is not a folder, or cannot be read.
void RequireSourceFolder(const std::string& native_path);

// The items of one folder ("." and ".." left out), in no particular order. Throws HostError
// when the folder cannot be listed or holds an item that cannot be packed.
std::vector<SourceItem> ListSourceFolder(const std::string& native_folder);

// `folder` joined with `name` by the platform's separator.
std::string JoinNativePath(const std::string& folder, const std::string& name);

}  // namespace host
