#include "platform/Clock.h"

#include <windows.h>

namespace platform {

LocalTime localTimeNow() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                   now.wMinute, now.wSecond, now.wMilliseconds};
}

std::int64_t utcTicksNow() {
  // A file time counts the same 100-ns ticks from 1601-01-01.
  constexpr std::int64_t kFileTimeEpochTicks = 504911232000000000;
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  ULARGE_INTEGER ticks{};
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  return kFileTimeEpochTicks + static_cast<std::int64_t>(ticks.QuadPart);
}

void sleepMilliseconds(int milliseconds) {
  ::Sleep(milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds));
}

}  // namespace platform
