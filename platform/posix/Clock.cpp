#include "platform/Clock.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace platform {

LocalTime localTimeNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                   local.tm_min,         local.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
}

std::int64_t utcTicksNow() {
  constexpr std::int64_t kUnixEpochTicks = 621355968000000000;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return kUnixEpochTicks + static_cast<std::int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

void sleepMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
