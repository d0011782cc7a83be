#include "host/ansi_text.h"

#include "host/windows1252.h"

namespace host {

std::optional<std::string> ToArchiveText(const std::string& native) {
  return Utf8ToWindows1252(native);
}

std::string ToNativeText(const std::string& archive_text) {
  return Windows1252ToUtf8(archive_text);
}

}  // namespace host
