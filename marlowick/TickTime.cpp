#include "marlowick/TickTime.h"

#include "kestrelkit/net/ftp/FtpFileInfo.h"

namespace marlowick {
namespace {

namespace ticks = kestrelkit::net::ftp::ticks;

struct CivilDate {
  std::int64_t year;
  int month;
  int day;
};

// Days since 0001-01-01 to a proleptic Gregorian date, by whole 400-year eras (146,097 days).
CivilDate civilFromDays(std::int64_t days) {
  std::int64_t era = days / 146097;
  std::int64_t dayOfEra = days % 146097;
  // Years of the era, counting the leap days of every 4th, 100th and 400th year.
  std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  std::int64_t year = era * 400 + yearOfEra + 1;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  while (true) {
    int length = kMonthDays[month] + (month == 1 && leap ? 1 : 0);
    if (dayOfYear < length) break;
    dayOfYear -= length;
    ++month;
  }
  return {year, month + 1, static_cast<int>(dayOfYear) + 1};
}

}  // namespace

std::string formatTickTime(std::int64_t tickValue) {
  if (tickValue < 0 || tickValue > ticks::kUnknownTime) tickValue = ticks::kUnknownTime;
  CivilDate date = civilFromDays(tickValue / ticks::kPerDay);
  std::int64_t seconds = tickValue % ticks::kPerDay / ticks::kPerSecond;
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", date.year, date.month, date.day,
                     seconds / 3600, seconds / 60 % 60, seconds % 60);
}

}  // namespace marlowick
