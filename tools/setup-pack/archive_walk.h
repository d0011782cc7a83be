// The header walk (archive/header_cursor.h) over an archive in a file, and what its end means in
// the tool's words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/header_cursor.h"

namespace setup_pack {

using archive::ArchiveWalk;
using archive::VisitArchive;
using archive::WalkArchive;
using archive::WalkedEntry;
using archive::WalkEnd;
using archive::WalkSource;

// What went wrong and where ("entry index 4 at byte offset 1088: ..."); empty when clean.
std::string WalkProblem(const ArchiveWalk& walk, size_t archive_size);

// The walk over `size` bytes from byte `offset` of a file, read in blocks of a few KiB so that the
// file is never held whole. Throws ToolError when the file cannot be read.
ArchiveWalk VisitArchiveFile(const std::string& native_path, uint64_t offset, size_t size,
                             const std::function<void(const WalkedEntry&)>& visit);

}  // namespace setup_pack
