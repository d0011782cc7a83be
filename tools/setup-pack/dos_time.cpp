#include "tools/setup-pack/dos_time.h"

#include <cstdio>
#include <tuple>

namespace setup_pack {
namespace {

std::tuple<int, int, int, int, int, int> Fields(const CivilTime& t) {
  return {t.year, t.month, t.day, t.hour, t.minute, t.second};
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

std::string FormatDosDateTime(uint32_t dos_date_time) {
  const uint32_t date = dos_date_time >> 16;
  const uint32_t clock = dos_date_time & 0xFFFF;
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9),
                (date >> 5) & 15, date & 31, clock >> 11, (clock >> 5) & 63, (clock & 31) * 2);
  return text;
}

}  // namespace setup_pack
