#pragma once

#include <cstdint>

namespace platform {

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

/// The current local wall-clock time.
LocalTime localTimeNow();

/// The current UTC time in 100-nanosecond ticks since 0001-01-01.
std::int64_t utcTicksNow();

/// Pauses the calling thread.
void sleepMilliseconds(int milliseconds);

}  // namespace platform
