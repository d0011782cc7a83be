// Names for new files that cannot be guessed beforehand: random hexadecimal digits from the
// platform's entropy source (each file layer asks its own). Shared by the platform file layers.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// How many names a creation tries before it gives up; a clash is already rare at the first.
constexpr int kUniqueNameAttempts = 100;

// Two random 32-bit numbers as sixteen hexadecimal digits.
inline std::string HexDigits(uint32_t high, uint32_t low) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string digits(16, '0');
  for (int i = 0; i < 8; ++i) {
    digits[7 - i] = kDigits[(high >> (4 * i)) & 0xF];
    digits[15 - i] = kDigits[(low >> (4 * i)) & 0xF];
  }
  return digits;
}

}  // namespace host
