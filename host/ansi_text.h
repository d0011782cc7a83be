// Names and captions as the archive stores them (ANSI bytes) versus the platform's own spelling
// of text (file names, command-line arguments). On Windows both are the ANSI code page and
// nothing changes. On POSIX the platform spells UTF-8 and the archive Windows-1252.
#pragma once

#include <optional>
#include <string>

namespace host {

// None when the text has no ANSI spelling.
std::optional<std::string> ToArchiveText(const std::string& native);
std::string ToNativeText(const std::string& archive_text);

}  // namespace host
