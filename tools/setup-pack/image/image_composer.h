// Composes a built installer from its template: the template's bytes with some fields replaced,
// the package block's head and archive, and the zeros of the archive area that the file stores.
//
// Where the template keeps its block at the end of a PE section of its own, the built image
// stores that section's data only up to the end of the archive (rounded up to the file
// alignment); the sections whose data follows move with it, and the header fields that describe
// the file data are set to match. Every PE image written gets its checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "tools/setup-pack/image/block_location.h"
#include "tools/setup-pack/image/pe_layout.h"

namespace setup_pack {

// Bytes put over the template's, at a template offset outside the block's archive area.
struct Overlay {
  size_t offset;
  std::vector<uint8_t> bytes;
};

struct ImageTemplate {
  const uint8_t* bytes = nullptr;
  size_t end = 0;  // where the bytes to keep end (a certificate table left out lies beyond)
  BlockLocation block;
  std::optional<PeLayout> pe;
};

using ByteSink = std::function<void(const uint8_t* data, size_t size)>;

// Hands the built image to `sink`, in order: `image` with `overlays`, the block's head `head`
// and `archive` (at most the area's 18,000,000 bytes), then the zeros and the template's bytes
// that follow. Throws ToolError when the template's sections cannot be laid out again.
void ComposeInstaller(const ImageTemplate& image, std::vector<Overlay> overlays,
                      const uint8_t* head, const uint8_t* archive, size_t archive_size,
                      const ByteSink& sink);

}  // namespace setup_pack
