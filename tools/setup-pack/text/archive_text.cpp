#include "tools/setup-pack/text/archive_text.h"

namespace setup_pack {

std::string NameForMessage(const std::string& archive_text) {
  std::string shown;
  for (const char c : ToNativeText(archive_text)) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x20) {
      shown += '^';
      shown += static_cast<char>(code + 0x40);
    } else if (code == 0x7F) {
      shown += "^?";
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace setup_pack
