#include <gtest/gtest.h>

#include "tests/tools/pack_fixture.h"

namespace pack_testing {

uint32_t PlainFileAttributes() { return 0; }

}  // namespace pack_testing

namespace pack_testing {

std::string NativeName(const std::string& windows_1252) {
  std::string utf8;
  for (const char c : windows_1252) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else if (byte >= 0xA0) {  // Latin-1 range: the code point is the byte
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    } else {
      ADD_FAILURE() << "test names keep to ASCII and Latin-1";
    }
  }
  return utf8;
}

}  // namespace pack_testing

namespace pack_testing {

bool IsPosix() { return true; }

}  // namespace pack_testing
