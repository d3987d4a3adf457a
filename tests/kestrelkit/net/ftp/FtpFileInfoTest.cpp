#include <gtest/gtest.h>

#include "kestrelkit/net/ftp/FtpFileInfo.h"

namespace kestrelkit::net::ftp {
namespace {

TEST(FtpFileInfo, DefaultRecordMeansUnknownEverywhere) {
  FtpFileInfo info;
  EXPECT_EQ(info.name, "");
  EXPECT_EQ(info.type, FtpFileType::unknown);
  EXPECT_EQ(info.size, 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(info.modifyTime, 3155378975999999999);
  EXPECT_EQ(info.createTime, 3155378975999999999);
  EXPECT_TRUE(info.mediaType.empty());
  EXPECT_TRUE(info.facts.empty());
}

TEST(FtpFileInfo, RecordsAreIndependentCopies) {
  FtpFileInfo first;
  first.name = "a";
  first.facts["x"] = "1";
  FtpFileInfo second = first;
  second.name = "b";
  second.facts["x"] = "2";
  EXPECT_EQ(first.name, "a");
  EXPECT_EQ(first.facts["x"], "1");
}

TEST(FtpFileInfo, TickScale) {
  EXPECT_EQ(ticks::fromUnixSeconds(0), 621355968000000000);
  EXPECT_EQ(ticks::fromUnixSeconds(86400), 621356832000000000);
  EXPECT_EQ(ticks::kPerDay, 86400 * ticks::kPerSecond);
  EXPECT_EQ(ticks::kPerMinute, 60 * ticks::kPerSecond);
  // 1601-01-01 is 134,774 days before 1970-01-01.
  EXPECT_EQ(ticks::kFileTimeEpoch + 134774 * ticks::kPerDay, ticks::kUnixEpoch);
  // The last second of 9999 is the last one the scale holds; one more is unknown.
  EXPECT_EQ(ticks::fromUnixSecondsOrUnknown(253402300799),
            ticks::kUnknownTime - (ticks::kPerSecond - 1));
  EXPECT_EQ(ticks::fromUnixSecondsOrUnknown(253402300800), ticks::kUnknownTime);
  EXPECT_EQ(ticks::fromUnixSecondsOrUnknown(-62135596800), 0);
  EXPECT_EQ(ticks::fromUnixSecondsOrUnknown(-62135596801), ticks::kUnknownTime);
  EXPECT_EQ(ticks::fromUnixSecondsOrUnknown(2240611200), 621355968000000000 + 22406112000000000);
}

}  // namespace
}  // namespace kestrelkit::net::ftp
