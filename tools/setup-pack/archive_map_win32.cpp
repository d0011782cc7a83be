#include "tools/setup-pack/archive_map.h"

namespace setup_pack {

// Windows reads the file through a buffer: a walk here is not worth the mapping's setup.
std::unique_ptr<WalkSource> MapArchiveForWalk(const std::string& /*native_path*/,
                                              uint64_t /*offset*/, size_t /*size*/) {
  return nullptr;
}

// Nor is an extraction: without a way to drop the pages it has passed, a view of the whole area
// would hold the package resident.
std::unique_ptr<MappedArchiveArea> MapArchiveArea(const std::string& /*native_path*/,
                                                  uint64_t /*offset*/, size_t /*size*/) {
  return nullptr;
}

}  // namespace setup_pack
