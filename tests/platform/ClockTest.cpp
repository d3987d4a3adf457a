#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(Clock, UtcTicksAgreeWithTheSystemClock) {
  std::int64_t seconds = static_cast<std::int64_t>(std::time(nullptr));
  std::int64_t ticks = platform::utcTicksNow();
  std::int64_t fromTicks = (ticks - 621355968000000000) / 10000000;
  EXPECT_LE(std::llabs(fromTicks - seconds), 2);
}

TEST(Clock, LocalTimeFieldsAreInRange) {
  platform::LocalTime now = platform::localTimeNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 60);
  EXPECT_LE(now.millisecond, 999);
}

}  // namespace
