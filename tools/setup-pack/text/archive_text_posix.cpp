#include "tools/setup-pack/text/archive_text.h"

#include "tools/setup-pack/text/windows1252.h"

namespace setup_pack {

std::optional<std::string> ToArchiveText(const std::string& native) {
  return Utf8ToWindows1252(native);
}

std::string ToNativeText(const std::string& archive_text) {
  return Windows1252ToUtf8(archive_text);
}

}  // namespace setup_pack
