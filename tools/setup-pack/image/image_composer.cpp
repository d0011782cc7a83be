#include "tools/setup-pack/image/image_composer.h"

#include <algorithm>
#include <string>
#include <utility>

#include "archive/little_endian.h"
#include "archive/package_block.h"
#include "tools/setup-pack/cli/tool_error.h"

namespace setup_pack {
namespace {

constexpr size_t kBlockSize = sizeof(archive::PackageBlock);
constexpr size_t kSectionRawSizeField = 16;    // in a section header
constexpr size_t kSectionRawOffsetField = 20;  // in a section header

std::vector<uint8_t> LittleEndian32(uint32_t value) {
  std::vector<uint8_t> bytes(4);
  archive::WriteLittleEndian32(bytes.data(), value);
  return bytes;
}

// How the template's bytes become the built image's: the template's bytes up to the block, the
// head and the archive, `zeros` zero bytes, then the template's bytes from `tail_from` on, which
// lie `shift` bytes further on in the built image. `fields` are the header fields that change.
struct Layout {
  size_t tail_from = 0;
  size_t zeros = 0;
  int64_t shift = 0;
  std::vector<Overlay> fields;
};

// The whole block in the file, as the template has it.
Layout WholeBlock(const ImageTemplate& image, size_t archive_size) {
  if (image.block.stored != kBlockSize) {
    throw ToolError(
        "the template's package block is not stored whole and does not end its section, so the "
        "archive area cannot be stored in part");
  }
  Layout layout;
  layout.tail_from = image.block.offset + kBlockSize;
  layout.zeros = static_cast<size_t>(archive::kArchiveCapacity) - archive_size;
  return layout;
}

// The block's section stores the block up to the archive's end, rounded up to the file
// alignment; the data of the sections after it moves by the difference.
Layout CompactBlock(const ImageTemplate& image, size_t archive_size) {
  const PeLayout& pe = *image.pe;
  const PeSection& section = pe.sections[*image.block.section];
  const uint32_t alignment = pe.file_alignment;
  if (alignment == 0 || (alignment & (alignment - 1)) != 0) {
    throw ToolError("the template's file alignment " + std::to_string(alignment) +
                    " is no power of two");
  }
  const uint64_t written_end = image.block.offset + archive::kPackageHeadSize + archive_size;
  const uint64_t raw_size =
      (written_end - section.raw_offset + alignment - 1) / alignment * alignment;
  const uint64_t old_end = section.raw_end();
  if (old_end > image.end) {
    throw ToolError("the template is cut short: its section data ends at byte " +
                    std::to_string(old_end) + ", the file at byte " + std::to_string(image.end));
  }
  Layout layout;
  layout.tail_from = static_cast<size_t>(old_end);
  layout.zeros = static_cast<size_t>(section.raw_offset + raw_size - written_end);
  layout.shift = static_cast<int64_t>(raw_size) - static_cast<int64_t>(section.raw_size);
  const auto moved = [&layout](uint32_t offset) {
    return LittleEndian32(static_cast<uint32_t>(offset + layout.shift));
  };
  layout.fields.push_back({section.header_offset + kSectionRawSizeField,
                           LittleEndian32(static_cast<uint32_t>(raw_size))});
  for (const PeSection& other : pe.sections) {
    if (&other == &section || other.raw_size == 0 || other.raw_end() <= section.raw_offset) {
      continue;
    }
    if (other.raw_offset < old_end) {
      throw ToolError("the template's sections share file data with its package block's section");
    }
    layout.fields.push_back(
        {other.header_offset + kSectionRawOffsetField, moved(other.raw_offset)});
  }
  if (layout.shift == 0) return layout;
  if (pe.debug_directory_size != 0) {
    throw ToolError("the template carries debugging information, whose file offsets would "
                    "move; build it stripped");
  }
  if ((section.characteristics & kSectionInitializedData) != 0) {
    const uint32_t initialized =
        archive::ReadLittleEndian32(image.bytes + pe.initialized_data_offset);
    layout.fields.push_back({pe.initialized_data_offset, moved(initialized)});
  }
  const uint32_t symbols = archive::ReadLittleEndian32(image.bytes + pe.symbol_table_offset);
  if (symbols != 0 && symbols >= old_end) {
    layout.fields.push_back({pe.symbol_table_offset, moved(symbols)});
  }
  return layout;
}

// Hands pieces of the built image to a sink in order, putting the overlays (at offsets of the
// built image) over whatever bytes fall on them.
class OverlaidWriter {
 public:
  OverlaidWriter(const ByteSink& sink, const std::vector<Overlay>& overlays)
      : sink_(sink), overlays_(overlays) {}

  void Write(const uint8_t* data, size_t size) {
    const size_t begin = position_;
    const size_t end = position_ + size;
    position_ = end;
    const uint8_t* bytes = data;
    for (const Overlay& overlay : overlays_) {
      const size_t overlay_end = overlay.offset + overlay.bytes.size();
      if (end <= overlay.offset || begin >= overlay_end) continue;
      if (bytes == data) {
        patched_.assign(data, data + size);
        bytes = patched_.data();
      }
      for (size_t at = std::max(begin, overlay.offset); at < std::min(end, overlay_end); ++at) {
        patched_[at - begin] = overlay.bytes[at - overlay.offset];
      }
    }
    sink_(bytes, size);
  }

  void WriteZeros(size_t size) {
    static const uint8_t kZeros[64 << 10] = {};
    for (size_t left = size; left > 0;) {
      const size_t piece = std::min(left, sizeof kZeros);
      Write(kZeros, piece);
      left -= piece;
    }
  }

 private:
  const ByteSink& sink_;
  const std::vector<Overlay>& overlays_;
  size_t position_ = 0;
  std::vector<uint8_t> patched_;
};

}  // namespace

void ComposeInstaller(const ImageTemplate& image, std::vector<Overlay> overlays,
                      const uint8_t* head, const uint8_t* archive, size_t archive_size,
                      const ByteSink& sink) {
  if (archive_size > static_cast<size_t>(archive::kArchiveCapacity)) {
    throw ToolError("the archive is " + std::to_string(archive_size) +
                    " bytes; the package block holds at most " +
                    std::to_string(archive::kArchiveCapacity));
  }
  const Layout layout = image.pe && image.block.at_section_end
                            ? CompactBlock(image, archive_size)
                            : WholeBlock(image, archive_size);
  // Overlays after the block move with the bytes they lie on.
  for (Overlay& overlay : overlays) {
    if (overlay.offset >= layout.tail_from) {
      overlay.offset = static_cast<size_t>(static_cast<int64_t>(overlay.offset) + layout.shift);
    }
  }
  overlays.insert(overlays.end(), layout.fields.begin(), layout.fields.end());
  const auto write = [&](const ByteSink& to, const std::vector<Overlay>& with) {
    OverlaidWriter out(to, with);
    out.Write(image.bytes, image.block.offset);
    out.Write(head, archive::kPackageHeadSize);
    out.Write(archive, archive_size);
    out.WriteZeros(layout.zeros);
    if (image.end > layout.tail_from) {
      out.Write(image.bytes + layout.tail_from, image.end - layout.tail_from);
    }
  };
  if (image.pe) {
    PeChecksum checksum(image.pe->checksum_offset);
    write([&checksum](const uint8_t* data, size_t size) { checksum.Add(data, size); }, overlays);
    overlays.push_back({image.pe->checksum_offset, LittleEndian32(checksum.Finish())});
  }
  write(sink, overlays);
}

}  // namespace setup_pack
