// Where a file holds its package block, and how much of the block the file stores.
//
// A block is stored whole (head and the 18,000,000-byte archive area) in a raw image or an
// installer made by an older tool. An installer program keeps it at the end of a PE section of
// its own, whose file data may end before the section's memory does: the file then stores the
// head and the archive, and the rest of the area is the zeros that the loader fills in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "archive/package_block.h"
#include "tools/setup-pack/image/pe_layout.h"

namespace setup_pack {

struct BlockLocation {
  size_t offset = 0;  // of its marker, in the file
  // The block's bytes that the file stores, from the marker on (at least its head); the rest of
  // the block reads as zeros.
  size_t stored = sizeof(archive::PackageBlock);
  // PE images: the section whose data holds the block, when the section's memory holds all of
  // it; the file may then store less than the whole block.
  std::optional<size_t> section;
  // Nothing but zeros follows the block in its section (at most the padding of the section's
  // alignment): the file need store the section only up to the end of the archive.
  bool at_section_end = false;
};

// The first package marker with the block's capacity behind it where the whole block is either
// in the file or in the memory of a section of the PE image `pe` describes (when given). None
// when there is no such marker.
std::optional<BlockLocation> FindPackageBlock(const uint8_t* data, size_t size,
                                              const PeLayout* pe);

}  // namespace setup_pack
