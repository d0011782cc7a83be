// What the tests read back from a written file, through the platform's own calls rather than the
// file layer under test.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

// The file's last-write time as a DOS date-time in local time (the offset in force now), or 0
// when it cannot be read.
uint32_t LastWriteDosTime(const std::string& path);
// True when the file carries the read-only attribute (no write permission for the owner on POSIX).
bool IsReadOnly(const std::string& path);

// A DOS date-time: date in the high 16 bits, time in the low 16 bits, seconds in 2-second steps.
constexpr uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<uint32_t>(year - 1980) << 25 | static_cast<uint32_t>(month) << 21 |
         static_cast<uint32_t>(day) << 16 | static_cast<uint32_t>(hour) << 11 |
         static_cast<uint32_t>(minute) << 5 | static_cast<uint32_t>(second / 2);
}

}  // namespace testing_support
