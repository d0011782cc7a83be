// Names and captions as the archive stores them (ANSI bytes, backslash separators) versus the
// platform's own spelling. On Windows both are the ANSI code page and nothing changes. On POSIX
// the platform spells UTF-8 and the archive Windows-1252.
#pragma once

#include <optional>
#include <string>

namespace setup_pack {

// None when the text has no ANSI spelling.
std::optional<std::string> ToArchiveText(const std::string& native);
std::string ToNativeText(const std::string& archive_text);

// An archive name as it is shown in listings and messages: in platform spelling, control
// characters as cat -v shows them (^I for a tab, ^@ for a NUL, ^? for DEL), so that no name can
// break a listing's lines or cut a message short.
std::string NameForMessage(const std::string& archive_text);

}  // namespace setup_pack
