// The entries that create and build write for a folder: a deterministic walk (the items of each
// folder in byte order of their archive names, a folder entry before what it holds) with names
// relative to the folder, separated by backslashes, in ANSI text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setup_pack {

struct TreeItem {
  std::string source_path;  // platform spelling, for reading the file
  std::string name;         // archive name: ANSI, backslashes, relative to the packed folder
  bool is_folder = false;
  uint64_t size = 0;
  uint32_t attributes = 0;
  uint32_t modified = 0;
};

// Throws ToolError for a missing or unreadable folder, a name not representable in ANSI text or
// not allowed on Windows, two names that differ only in case (Windows would keep one), a name
// over 255 characters, or a file over 2 GiB.
std::vector<TreeItem> ScanTree(const std::string& native_root);

}  // namespace setup_pack
