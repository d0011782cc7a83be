// Names for new files that cannot be guessed beforehand: random hexadecimal digits from the
// platform's entropy source. Shared by the platform file layers.
#pragma once

#include <cstdio>
#include <random>
#include <string>

namespace host {

// How many names a creation tries before it gives up; a clash is already rare at the first.
constexpr int kUniqueNameAttempts = 100;

inline std::string RandomHex(std::random_device& entropy) {
  char digits[17];
  std::snprintf(digits, sizeof digits, "%08x%08x", static_cast<unsigned>(entropy()),
                static_cast<unsigned>(entropy()));
  return digits;
}

}  // namespace host
