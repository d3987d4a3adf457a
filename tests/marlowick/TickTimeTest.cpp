#include <gtest/gtest.h>

#include <ctime>
#include <random>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "marlowick/TickTime.h"

namespace {

namespace ticks = kestrelkit::net::ftp::ticks;
using marlowick::formatTickTime;
using marlowick::TickTime;

TEST(TickTimeTest, RendersCalendarDates) {
  struct Case {
    std::int64_t ticks;
    const char* expected;
  } cases[] = {
      {0, "0001-01-01T00:00:00"},
      {ticks::kPerDay * 31 + ticks::kPerSecond * 59, "0001-02-01T00:00:59"},
      {ticks::kPerDay * (365 * 3 - 1), "0003-12-31T00:00:00"},  // no leap day before year 4
      {ticks::kPerDay * (1095 + 59), "0004-02-29T00:00:00"},
      {ticks::kPerDay * (1095 + 366), "0005-01-01T00:00:00"},
      {ticks::kUnixEpoch, "1970-01-01T00:00:00"},
      {ticks::fromUnixSeconds(86400), "1970-01-02T00:00:00"},
      {ticks::fromUnixSeconds(951827696), "2000-02-29T12:34:56"},    // every 400th year leaps
      {ticks::fromUnixSeconds(-2203891200), "1900-03-01T00:00:00"},  // 1900 does not
      {ticks::fromUnixSeconds(1735689599), "2024-12-31T23:59:59"},
      {ticks::fromUnixSeconds(1735689599) + 9999999, "2024-12-31T23:59:59"},  // no rounding
      {ticks::kUnknownTime, "9999-12-31T23:59:59"},
      {ticks::kUnknownTime - ticks::kPerDay, "9999-12-30T23:59:59"},
      {-1, "9999-12-31T23:59:59"},
      {ticks::kUnknownTime + 1, "9999-12-31T23:59:59"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatTickTime(c.ticks), c.expected) << c.ticks;
}

TEST(TickTimeTest, AgreesWithTheSystemCalendar) {
  std::mt19937_64 random(20261208);
  // Years 1 to 9999 as seconds since 1970.
  std::uniform_int_distribution<std::int64_t> seconds(-62135596800, 253402300799);
  for (int i = 0; i < 20000; ++i) {
    std::time_t when = seconds(random);
    std::tm parts{};
    ASSERT_NE(gmtime_r(&when, &parts), nullptr);
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%S", &parts);
    std::string padded = expected;
    // strftime does not pad years below 1000.
    while (padded.find('-') < 4) padded.insert(0, "0");
    ASSERT_EQ(formatTickTime(ticks::fromUnixSeconds(when)), padded) << when;
  }
}

TEST(TickTimeTest, MessagePlaceholders) {
  TickTime time{ticks::fromUnixSeconds(1735689599)};
  EXPECT_EQ(fmt::format(" found {}, last modified: {:s}", "a.txt", time),
            " found a.txt, last modified: 2024-12-31T23:59:59");
  EXPECT_EQ(fmt::format("{}", TickTime{ticks::kUnknownTime}), "9999-12-31T23:59:59");
}

}  // namespace
