// Views of an archive inside a file, where the platform can map files into memory. The checking
// walk's view maps one window of the file at a time and reads the headers in place, without
// copying the data between them. The extraction's view maps the whole archive area, so that the
// reader takes it as its memory source, as the installer takes its own image: no read call per
// entry. Either keeps what the process holds resident small.
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

// An archive area mapped whole and read-only. Its pages are read from the file when first
// touched and count as resident from then on; ReleasePages lets the platform drop them again (a
// later touch reads them anew), so that an extraction holds only what it has touched since.
class MappedArchiveArea {
 public:
  virtual ~MappedArchiveArea() = default;
  virtual const uint8_t* data() const = 0;
  virtual size_t size() const = 0;
  virtual void ReleasePages() = 0;
};

// `size` bytes from byte `offset` of the file, or none where the platform does not map files,
// for an empty area, or one too large for the reader's memory source (the caller then reads the
// file instead). Throws ToolError when the file cannot be opened or mapped.
std::unique_ptr<MappedArchiveArea> MapArchiveArea(const std::string& native_path, uint64_t offset,
                                                  size_t size);

}  // namespace setup_pack
