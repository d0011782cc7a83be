#include "tools/setup-pack/image/authenticode.h"

#include <string>

#include "archive/little_endian.h"
#include "tools/setup-pack/cli/tool_error.h"

namespace setup_pack {

PeSignature ReadPeSignature(const PeLayout& layout, const uint8_t* head, uint64_t file_size) {
  PeSignature signature;
  signature.checksum_offset = layout.checksum_offset;
  signature.security_entry_offset = layout.security_entry_offset;
  if (!signature.security_entry_offset) return signature;
  const size_t entry = *signature.security_entry_offset;
  signature.table_offset = archive::ReadLittleEndian32(head + entry);
  signature.table_size = archive::ReadLittleEndian32(head + entry + 4);
  if (signature.present() && uint64_t{signature.table_offset} + signature.table_size > file_size) {
    throw ToolError("the image's certificate table (" + std::to_string(signature.table_size) +
                    " bytes at offset " + std::to_string(signature.table_offset) +
                    ") lies outside the file");
  }
  return signature;
}

std::optional<PeSignature> ReadPeSignature(const uint8_t* head, size_t head_size,
                                           uint64_t file_size) {
  const std::optional<PeLayout> layout = ReadPeLayout(head, head_size);
  if (!layout) return std::nullopt;
  return ReadPeSignature(*layout, head, file_size);
}

}  // namespace setup_pack
