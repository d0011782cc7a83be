// DOS date-times, the entries' modification times: date in the high 16 bits (years since 1980
// << 9 | month << 5 | day), time in the low 16 bits (hours << 11 | minutes << 5 | seconds / 2),
// local time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace archive {

struct CivilTime {
  int year = 1980;
  int month = 1;   // 1..12
  int day = 1;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;  // 0..59; odd seconds round down
};

// Times before 1980-01-01 00:00:00 become that moment; times after 2107-12-31 23:59:58 become
// that one, the last a DOS date-time can hold.
uint32_t DosDateTimeFromCivil(const CivilTime& time);

// The fields of a stored date-time; none when they name no real moment (month 0, February 30,
// 24 o'clock, 60 seconds, ...).
std::optional<CivilTime> CivilFromDosDateTime(uint32_t dos_date_time);

// Seconds since 1970-01-01 00:00:00 of a civil time read as if it were UTC.
int64_t SecondsSinceEpochAsUtc(const CivilTime& time);

// "YYYY-MM-DD HH:MM:SS" of the fields as stored, also when they name no real date.
std::string FormatDosDateTime(uint32_t dos_date_time);

}  // namespace archive
