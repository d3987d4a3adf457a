#pragma once

#include <cstdint>
#include <ctime>

namespace testing_support {

/// Seconds since 1970 of a UTC wall-clock time, computed by the C library (not by the code under
/// test).
inline std::int64_t utc(int year, int month, int day, int hour = 0, int minute = 0,
                        int second = 0) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return static_cast<std::int64_t>(timegm(&parts));
}

}  // namespace testing_support
