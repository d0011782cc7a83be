// Conversion between UTF-8 and Windows-1252, the ANSI text of archive names and captions on a
// Western Windows. Used on POSIX, where file names and arguments are UTF-8.
#pragma once

#include <optional>
#include <string>

namespace host {

// None when the text is not valid UTF-8 or holds a character that Windows-1252 cannot represent.
std::optional<std::string> Utf8ToWindows1252(const std::string& utf8);

// Every byte converts. The five bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become U+0081 and so on, as Windows converts them, so they also convert back.
std::string Windows1252ToUtf8(const std::string& ansi);

}  // namespace host
