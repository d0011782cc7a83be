// The header walk (archive/header_cursor.h) as the tool uses it, and what its end means in the
// tool's words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/header_cursor.h"

namespace setup_pack {

using archive::ArchiveWalk;
using archive::MemoryWalkSource;
using archive::VisitArchive;
using archive::WalkArchive;
using archive::WalkedEntry;
using archive::WalkEnd;
using archive::WalkSource;

// What went wrong and where ("entry index 4 at byte offset 1088: ..."); empty when clean.
std::string WalkProblem(const ArchiveWalk& walk, size_t archive_size);

}  // namespace setup_pack
