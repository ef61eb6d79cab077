// FILETIME to ISO 8601 by calendar arithmetic, independent of the host's
// time_t and of its time zone.
#include "publisher/file_time_text.h"

#include <cinttypes>
#include <cstdio>

namespace publisher {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::uint64_t kSecondsPerDay = 86'400;
// Days from 1601-01-01, where file times count from, to 1970-01-01.
constexpr std::int64_t kDaysFrom1601To1970 = 134'774;

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// The proleptic Gregorian date `days` after 1970-01-01 (Howard Hinnant's
// civil_from_days): eras of 400 years, years counted from March so that
// the leap day comes last.
CivilDate DateFromDays(std::int64_t days) {
  const std::int64_t z = days + 719'468;  // days since 0000-03-01
  const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const std::int64_t dayOfEra = z - era * 146'097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1'460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const auto day = static_cast<unsigned>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  const auto month = static_cast<unsigned>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  return CivilDate{yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace

std::string FileTimeText(platform::FileTime time) {
  const std::uint64_t seconds = time / kTicksPerSecond;
  const std::uint64_t secondOfDay = seconds % kSecondsPerDay;
  const CivilDate date = DateFromDays(static_cast<std::int64_t>(seconds / kSecondsPerDay) - kDaysFrom1601To1970);
  char text[48];
  std::snprintf(text, sizeof text, "%04" PRId64 "-%02u-%02uT%02u:%02u:%02u.%07uZ", date.year, date.month, date.day,
                static_cast<unsigned>(secondOfDay / 3600), static_cast<unsigned>(secondOfDay / 60 % 60),
                static_cast<unsigned>(secondOfDay % 60), static_cast<unsigned>(time % kTicksPerSecond));
  return text;
}

}  // namespace publisher
