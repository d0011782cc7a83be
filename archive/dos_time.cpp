#include "archive/dos_time.h"

#include <tuple>

namespace archive {
namespace {

std::tuple<int, int, int, int, int, int> Fields(const CivilTime& t) {
  return {t.year, t.month, t.day, t.hour, t.minute, t.second};
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int year_of_era = year - era * 400;
  const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return static_cast<int64_t>(era) * 146097 + day_of_era - 719468;
}

}  // namespace

uint32_t DosDateTimeFromCivil(const CivilTime& time) {
  const CivilTime first{1980, 1, 1, 0, 0, 0};
  const CivilTime last{2107, 12, 31, 23, 59, 58};
  CivilTime t = time;
  if (Fields(t) < Fields(first)) t = first;
  if (Fields(t) > Fields(last)) t = last;
  const uint32_t date = static_cast<uint32_t>((t.year - 1980) << 9 | t.month << 5 | t.day);
  const uint32_t clock = static_cast<uint32_t>(t.hour << 11 | t.minute << 5 | t.second / 2);
  return date << 16 | clock;
}

std::optional<CivilTime> CivilFromDosDateTime(uint32_t dos_date_time) {
  const uint32_t date = dos_date_time >> 16;
  const uint32_t clock = dos_date_time & 0xFFFF;
  CivilTime time;
  time.year = 1980 + static_cast<int>(date >> 9);
  time.month = static_cast<int>((date >> 5) & 0x0F);
  time.day = static_cast<int>(date & 0x1F);
  time.hour = static_cast<int>(clock >> 11);
  time.minute = static_cast<int>((clock >> 5) & 0x3F);
  time.second = static_cast<int>(clock & 0x1F) * 2;
  if (time.month < 1 || time.month > 12 || time.day < 1 ||
      time.day > DaysInMonth(time.year, time.month) || time.hour > 23 || time.minute > 59 ||
      time.second > 59) {
    return std::nullopt;
  }
  return time;
}

int64_t SecondsSinceEpochAsUtc(const CivilTime& time) {
  return DaysFromCivil(time.year, time.month, time.day) * 86400 + time.hour * 3600 +
         time.minute * 60 + time.second;
}

// Digits by hand: the installer links this file, and a formatted print would bring the C
// runtime's whole formatting engine into it.
std::string FormatDosDateTime(uint32_t dos_date_time) {
  const uint32_t date = dos_date_time >> 16;
  const uint32_t clock = dos_date_time & 0xFFFF;
  std::string text;
  const auto append = [&text](uint32_t value, int width, char after) {
    char digits[10];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0 || count < width);
    while (count > 0) text += digits[--count];
    if (after != '\0') text += after;
  };
  append(1980 + (date >> 9), 4, '-');
  append((date >> 5) & 15, 2, '-');
  append(date & 31, 2, ' ');
  append(clock >> 11, 2, ':');
  append((clock >> 5) & 63, 2, ':');
  append((clock & 31) * 2, 2, '\0');
  return text;
}

}  // namespace archive
