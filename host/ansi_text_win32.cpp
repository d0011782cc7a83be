#include "host/ansi_text.h"

namespace host {

// The ANSI APIs already hand out ANSI text. A file name that the ANSI code page cannot spell
// comes back from them with '?' in its place; the tree scan refuses such names.
std::optional<std::string> ToArchiveText(const std::string& native) { return native; }

std::string ToNativeText(const std::string& archive_text) { return archive_text; }

}  // namespace host
