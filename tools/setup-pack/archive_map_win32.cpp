#include "tools/setup-pack/archive_map.h"

namespace setup_pack {

// Windows reads the file through a buffer: a walk here is not worth the mapping's setup.
std::unique_ptr<WalkSource> MapArchiveForWalk(const std::string& /*native_path*/,
                                              uint64_t /*offset*/, size_t /*size*/) {
  return nullptr;
}

}  // namespace setup_pack
