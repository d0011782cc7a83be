#include "tools/setup-pack/image/block_location.h"

#include <algorithm>
#include <functional>
#include <iterator>

namespace setup_pack {
namespace {

constexpr size_t kBlockSize = sizeof(archive::PackageBlock);

// The block at `offset` as the section holding it places it: its memory must hold the whole
// block, and the section's file data at least the head.
std::optional<BlockLocation> InSection(const PeLayout& pe, const uint8_t* data, size_t offset,
                                       size_t file_size) {
  const std::optional<size_t> index = pe.SectionHolding(offset);
  if (!index) return std::nullopt;
  const PeSection& section = pe.sections[*index];
  const uint64_t in_section = offset - section.raw_offset;
  if (in_section + kBlockSize > section.memory_size()) return std::nullopt;
  const uint64_t stored_end = std::min<uint64_t>(section.raw_end(), file_size);
  if (stored_end < offset + archive::kPackageHeadSize) return std::nullopt;
  BlockLocation block;
  block.offset = offset;
  block.stored = static_cast<size_t>(std::min<uint64_t>(stored_end - offset, kBlockSize));
  block.section = index;
  // Nothing but zeros after the block: the linker pads a section to its alignment.
  const size_t block_end = offset + kBlockSize;
  block.at_section_end =
      block_end >= stored_end ||
      std::all_of(data + block_end, data + stored_end, [](uint8_t byte) { return byte == 0; });
  return block;
}

}  // namespace

std::optional<BlockLocation> FindPackageBlock(const uint8_t* data, size_t size,
                                              const PeLayout* pe) {
  const std::boyer_moore_horspool_searcher marker(std::begin(archive::kPackageMarker),
                                                  std::end(archive::kPackageMarker));
  for (const uint8_t* from = data; from < data + size;) {
    const uint8_t* const at = std::search(from, data + size, marker);
    if (at == data + size) return std::nullopt;
    const auto offset = static_cast<size_t>(at - data);
    from = at + 1;
    if (size - offset < archive::kPackageHeadSize ||
        archive::StoredCapacity(at) != static_cast<uint32_t>(archive::kArchiveCapacity)) {
      continue;
    }
    if (pe) {
      if (const std::optional<BlockLocation> block = InSection(*pe, data, offset, size)) return block;
    }
    if (kBlockSize <= size - offset) {
      BlockLocation whole;
      whole.offset = offset;
      return whole;
    }
  }
  return std::nullopt;
}

}  // namespace setup_pack
