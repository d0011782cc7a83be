#include "host/windows1252.h"

#include <cstdint>

namespace host {
namespace {

// Code points of the bytes 0x80 to 0x9F; the undefined ones map to the C1 control of the same
// value.
constexpr char32_t kHighBlock[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

std::optional<uint8_t> EncodeCodePoint(char32_t code_point) {
  if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) {
    return static_cast<uint8_t>(code_point);
  }
  for (uint8_t i = 0; i < 32; ++i) {
    if (kHighBlock[i] == code_point) return static_cast<uint8_t>(0x80 + i);
  }
  return std::nullopt;
}

// Decodes one UTF-8 sequence at `pos`, advancing it. None for a malformed, overlong or surrogate
// sequence.
std::optional<char32_t> DecodeUtf8(const std::string& text, size_t& pos) {
  const auto byte_at = [&text](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte_at(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  size_t length = 0;
  char32_t code_point = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code_point = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code_point = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code_point = lead & 0x07;
    minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (pos + length > text.size()) return std::nullopt;
  for (size_t i = 1; i < length; ++i) {
    const uint8_t next = byte_at(pos + i);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    code_point = (code_point << 6) | (next & 0x3F);
  }
  if (code_point < minimum || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    return std::nullopt;
  }
  pos += length;
  return code_point;
}

void AppendUtf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

}  // namespace

std::optional<std::string> Utf8ToWindows1252(const std::string& utf8) {
  std::string ansi;
  ansi.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    const std::optional<char32_t> code_point = DecodeUtf8(utf8, pos);
    if (!code_point) return std::nullopt;
    const std::optional<uint8_t> byte = EncodeCodePoint(*code_point);
    if (!byte) return std::nullopt;
    ansi += static_cast<char>(*byte);
  }
  return ansi;
}

std::string Windows1252ToUtf8(const std::string& ansi) {
  std::string utf8;
  utf8.reserve(ansi.size());
  for (const char c : ansi) {
    const uint8_t byte = static_cast<uint8_t>(c);
    AppendUtf8(utf8, byte >= 0x80 && byte < 0xA0 ? kHighBlock[byte - 0x80] : char32_t{byte});
  }
  return utf8;
}

}  // namespace host
