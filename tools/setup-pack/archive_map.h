// The checking walk's view of an archive inside a file, where the platform can map files into
// memory: the headers are then read in place, without copying the data between them. The view
// maps one window of the file at a time, so what the process holds resident stays small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/setup-pack/archive_walk.h"

namespace setup_pack {

// A walk source over `size` bytes from byte `offset` of the file, or none where the platform
// does not map files (the caller then reads the file instead). Throws ToolError when the file
// cannot be opened or mapped.
std::unique_ptr<WalkSource> MapArchiveForWalk(const std::string& native_path, uint64_t offset,
                                              size_t size);

}  // namespace setup_pack
