#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/ListParser.h"
#include "tests/support/UtcTime.h"

namespace kestrelkit::net::ftp {
namespace {

using testing_support::utc;

std::int64_t fakeNow = 0;
std::int64_t fakeClock() { return fakeNow; }

// Pins "today" for the year guess; restores the system clock afterwards.
class ListParserTest : public ::testing::Test {
 protected:
  void SetUp() override { pinClock(utc(2025, 6, 15, 12, 0)); }
  void TearDown() override { setListClock(nullptr); }
  static void pinClock(std::int64_t now) {
    fakeNow = now;
    setListClock(fakeClock);
  }
};

class TestFtpLib : public FtpLib {
 public:
  explicit TestFtpLib(std::string type = "UNIX") { systemType_ = std::move(type); }
};

struct Case {
  const char* line;
  const char* name;
  FtpFileType type;
  std::uint64_t size;  // kUnknownSize when the line gives none
  std::int64_t time;   // seconds since 1970, or kNone
  int timeKind;
};
constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::min();

void expectCase(const Case& c) {
  SCOPED_TRACE(c.line);
  TestFtpLib connection;
  FtpFileInfo info = connection.toFileInfo(c.line);
  EXPECT_EQ(info.name, c.name);
  EXPECT_EQ(info.type, c.type);
  EXPECT_EQ(info.size, c.size);
  EXPECT_EQ(info.modifyTime,
            c.time == kNone ? ticks::kUnknownTime : ticks::fromUnixSeconds(c.time));
  EXPECT_EQ(info.createTime, ticks::kUnknownTime);
  EXPECT_TRUE(info.mediaType.empty());
  EXPECT_TRUE(info.facts.empty());
  ListLineFacts facts;
  const std::string line = c.line;
  if (parseListLine(facts, line.data(), line.size()) == 1) {
    EXPECT_EQ(facts.timeKind, c.timeKind);
  }
}

void expectRejected(const std::string& line) {
  SCOPED_TRACE(line);
  ListLineFacts facts;
  EXPECT_EQ(parseListLine(facts, line.data(), line.size()), 0);
  TestFtpLib connection;
  EXPECT_EQ(connection.toFileInfo(line), FtpFileInfo{});
}

TEST_F(ListParserTest, UnixLines) {
  const Case cases[] = {
      // Full columns; the date has no year and lies 137 days back, so it is this year's.
      {"-rw-r--r--   1 owner    group         531 Jan 29 03:26 README", "README", FtpFileType::file,
       531, utc(2025, 1, 29, 3, 26), 2},
      // No group column: each number before the month replaces the tentative size.
      {"-rw-r--r--   1 owner         531 Jan 29 03:26 README", "README", FtpFileType::file, 531,
       utc(2025, 1, 29, 3, 26), 2},
      {"drwxr-xr-x   2 owner    group         512 May 31  1994 etc", "etc", FtpFileType::folder,
       512, utc(1994, 5, 31), 3},
      {"lrwxrwxrwx   1 root     root            7 Jan 29 03:26 bin -> usr/bin", "bin",
       FtpFileType::unknown, 7, utc(2025, 1, 29, 3, 26), 2},
      // Only a whole " -> " inside the name cuts it.
      {"lrwxrwxrwx   1 root     root            7 Jan 29 03:26 a ->", "a ->", FtpFileType::unknown,
       7, utc(2025, 1, 29, 3, 26), 2},
      {"brw-rw----   1 root     disk       8,   0 Jan 29 03:26 sda", "sda", FtpFileType::unknown, 0,
       utc(2025, 1, 29, 3, 26), 2},
      {"crw-rw-rw-   1 root     root       1,   3 Jan 29 03:26 null", "null", FtpFileType::unknown,
       3, utc(2025, 1, 29, 3, 26), 2},
      {"prw-r--r--   1 root     root            0 Jan 29 03:26 fifo", "fifo", FtpFileType::unknown,
       0, utc(2025, 1, 29, 3, 26), 2},
      {"srwxrwxrwx   1 root     root            0 Jan 29 03:26 sock", "sock", FtpFileType::unknown,
       0, utc(2025, 1, 29, 3, 26), 2},
      // A six-byte second field starting with "f": no owner column, the next number is the size.
      {"-rw-r--r--   folder     1234 Jan 29 03:26 file.txt", "file.txt", FtpFileType::file, 1234,
       utc(2025, 1, 29, 3, 26), 2},
      {"dr-xr-xr-x   folder        0 Jan 29 03:26 pub", "pub", FtpFileType::folder, 0,
       utc(2025, 1, 29, 3, 26), 2},
      // NetPresenz: byte 1 "[" or " " drops three leading spaces of the name, others keep them.
      {"-[R----F--]  1 owner group   1234 Jan 29 03:26    four", "four", FtpFileType::file, 1234,
       utc(2025, 1, 29, 3, 26), 2},
      {"-  1 owner group 10 Jan 29 03:26    abcd", "abcd", FtpFileType::file, 10,
       utc(2025, 1, 29, 3, 26), 2},
      {"-rw-r--r--  1 owner group 10 Jan 29 03:26    abcd", "   abcd", FtpFileType::file, 10,
       utc(2025, 1, 29, 3, 26), 2},
      {"-[R----F--]  1 owner group 10 Jan 29 03:26    ", "   ", FtpFileType::file, 10,
       utc(2025, 1, 29, 3, 26), 2},
      // One-digit hour, month letters in any case, spaces inside the name kept.
      {"-rw-r--r-- 1 o g 5 jAN 29 3:26 my  file name ", "my  file name ", FtpFileType::file, 5,
       utc(2025, 1, 29, 3, 26), 2},
      // Sizes past 4 GiB and dates after 2038.
      {"-rw-r--r-- 1 o g 5000000000 Dec  8  2040 big.iso", "big.iso", FtpFileType::file,
       5000000000ULL, utc(2040, 12, 8), 3},
      {"-rw-r--r-- 1 o g 18446744073709551615 Dec  8  2100 huge", "huge", FtpFileType::file,
       18446744073709551615ULL, utc(2100, 12, 8), 3},
      {"drwxr-xr-x   2 o g 4096 Jan 29 03:26 .", ".", FtpFileType::currentFolder, 4096,
       utc(2025, 1, 29, 3, 26), 2},
      {"drwxr-xr-x   2 o g 4096 Jan 29 03:26 ..", "..", FtpFileType::parentFolder, 4096,
       utc(2025, 1, 29, 3, 26), 2},
      // Within 350 days back it stays in last year; a date further back and ahead of today in
      // this year is placed in the future.
      {"-rw-r--r-- 1 o g 1 Dec 24 18:00 past", "past", FtpFileType::file, 1,
       utc(2024, 12, 24, 18, 0), 2},
      {"-rw-r--r-- 1 o g 1 Jun 20 18:00 soon", "soon", FtpFileType::file, 1,
       utc(2025, 6, 20, 18, 0), 2},
      // Real servers: vsftpd, pure-ftpd, pyftpdlib, ProFTPD with numeric ids.
      {"-rw-r--r--    1 1000     1000         1234 Mar 05 14:22 notes.txt", "notes.txt",
       FtpFileType::file, 1234, utc(2025, 3, 5, 14, 22), 2},
      {"drwxr-xr-x    2 1000     1000         4096 Nov 30  2023 archive", "archive",
       FtpFileType::folder, 4096, utc(2023, 11, 30), 3},
      {"-rw-r--r--    1 ftpuser    ftpgroup         12 Jun  3 09:01 hello.txt", "hello.txt",
       FtpFileType::file, 12, utc(2025, 6, 3, 9, 1), 2},
      {"-rw-r--r--   1 user     group     1048576 Jun 10 08:30 data.bin", "data.bin",
       FtpFileType::file, 1048576, utc(2025, 6, 10, 8, 30), 2},
      {"drwxrwxr-x   3 user     group        4096 Nov 02  2019 Photos 2019", "Photos 2019",
       FtpFileType::folder, 4096, utc(2019, 11, 2), 3},
      {"-rw-r--r--   1 user     group          42 Feb 29  2024 leap \xc3\xa9t\xc3\xa9.txt",
       "leap \xc3\xa9t\xc3\xa9.txt", FtpFileType::file, 42, utc(2024, 2, 29), 3},
  };
  for (const Case& c : cases) expectCase(c);
}

TEST_F(ListParserTest, UnixLinesRejected) {
  for (const char* line : {
           "total 12",
           "total 0",
           "-rw-r--r-- 1 o g 5 Jan 29 03:26",       // time is the last word: no name
           "-rw-r--r-- 1 o g 5 Jan 29  1994",       // year is the last word
           "-rw-r--r-- 1 o g 5 Jan 29 3:2 name",    // time field too short
           "-rw-r--r-- 1 o g 5 Jxn 29 03:26 name",  // no month anywhere
           "drwxr-xr-x",
           "-",
           "",
       }) {
    expectRejected(line);
  }
  // A time field ended by a final blank is recognised but names nothing: dropped from listings.
  TestFtpLib connection;
  EXPECT_EQ(connection.toFileInfo("-rw-r--r-- 1 o g 5 Jan 29 03:26 ").name, "");
}

TEST_F(ListParserTest, MsDosLines) {
  const Case cases[] = {
      {"04-27-00  09:09PM       <DIR>          licensed", "licensed", FtpFileType::folder,
       kUnknownSize, utc(2000, 4, 27, 21, 9), 2},
      {"04-14-00  03:47PM                  589 readme.htm", "readme.htm", FtpFileType::file, 589,
       utc(2000, 4, 14, 15, 47), 2},
      {"07-18-00  12:16AM       <DIR>          pub", "pub", FtpFileType::folder, kUnknownSize,
       utc(2000, 7, 18, 0, 16), 2},
      {"07-18-00  12:16PM                    1 noon", "noon", FtpFileType::file, 1,
       utc(2000, 7, 18, 12, 16), 2},
      {"07-18-75  09:00PM                    1 old", "old", FtpFileType::file, 1,
       utc(1975, 7, 18, 21, 0), 2},
      {"07-18-49  09:00AM                    1 future", "future", FtpFileType::file, 1,
       utc(2049, 7, 18, 9, 0), 2},
      {"07-18-50  09:00AM                    1 fifty", "fifty", FtpFileType::file, 1,
       utc(1950, 7, 18, 9, 0), 2},
      // IIS with four-digit years, names with blanks, sizes past 4 GiB.
      {"02-14-2024  11:05AM             48128 budget 2024.xlsx", "budget 2024.xlsx",
       FtpFileType::file, 48128, utc(2024, 2, 14, 11, 5), 2},
      {"12-08-2026  01:35PM       <DIR>          Reports", "Reports", FtpFileType::folder,
       kUnknownSize, utc(2026, 12, 8, 13, 35), 2},
      {"01-01-2041  01:00AM           5000000000 disk.img", "disk.img", FtpFileType::file,
       5000000000ULL, utc(2041, 1, 1, 1, 0), 2},
  };
  for (const Case& c : cases) expectCase(c);
  for (const char* line : {
           "04-14-00  03:47x                 589 readme.htm",  // neither marker nor blank
           "04-27-00  09:09PM       <DIR>",                    // nothing after the marker
           "04-27-00  09:09PM",
           "04-27-00",
           "1234567890",
       }) {
    expectRejected(line);
  }
}

TEST_F(ListParserTest, VmsLines) {
  const Case cases[] = {
      {"CORE.DIR;1      1  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)", "CORE", FtpFileType::folder,
       kUnknownSize, utc(1996, 9, 8, 16, 9), 2},
      {"README.TXT;4  2  30-JUL-2044 07:58 [SYSTEM] (RWED,RWED,RE,RE)", "README.TXT",
       FtpFileType::file, kUnknownSize, utc(2044, 7, 30, 7, 58), 2},
      {"LOGIN.COM;2    1  19-jan-2020 08:15:33 [USER] (RWED,RWED,RE,)", "LOGIN.COM",
       FtpFileType::file, kUnknownSize, utc(2020, 1, 19, 8, 15), 2},
      // The suffix alone stays a name; only the exact capital suffix marks a folder.
      {".DIR;1  1  8-SEP-1996 16:09 [SYSTEM] (RWE)", ".DIR", FtpFileType::file, kUnknownSize,
       utc(1996, 9, 8, 16, 9), 2},
      {"MAIL.dir;1  1  8-SEP-1996 16:09 [SYSTEM] (RWE)", "MAIL.dir", FtpFileType::file,
       kUnknownSize, utc(1996, 9, 8, 16, 9), 2},
  };
  for (const Case& c : cases) expectCase(c);
  for (const char* line : {
           "Directory USERS:[ALICE]",  // header line, no ";"
           "FOO.TXT;1", "FOO.TXT;1  1  8-XYZ-1996 16:09 [SYSTEM]", "FOO.TXT;1  1  8-SEP-1996 16",
           "FOO.TXT;1  1  8-SEP-1996 16:09",  // minutes never end
       }) {
    expectRejected(line);
  }
}

// Forms public servers send that are read since: what each line gives.
TEST_F(ListParserTest, FurtherListingForms) {
  constexpr int kSecond = kTimeRemoteSecond;
  const Case cases[] = {
      // MS-DOS and IIS with a 24-hour clock, 4-digit years, seconds, a marker after a blank.
      {"04-14-00  15:47                  589 readme.htm", "readme.htm", FtpFileType::file, 589,
       utc(2000, 4, 14, 15, 47), 2},
      {"02-14-2024  00:05       <DIR>          Reports", "Reports", FtpFileType::folder,
       kUnknownSize, utc(2024, 2, 14, 0, 5), 2},
      {"12-08-2026  12:30            48128 noon.txt", "noon.txt", FtpFileType::file, 48128,
       utc(2026, 12, 8, 12, 30), 2},
      {"12-08-2026  01:35 PM            7 spaced", "spaced", FtpFileType::file, 7,
       utc(2026, 12, 8, 13, 35), 2},
      {"12-08-2026  13:35:07            7 seconds", "seconds", FtpFileType::file, 7,
       utc(2026, 12, 8, 13, 35), 2},
      // An "A" or "P" in the name is part of it, with or without a marker in the time.
      {"04-14-00  03:47 589 Photo album.jpg", "Photo album.jpg", FtpFileType::file, 589,
       utc(2000, 4, 14, 3, 47), 2},
      {"04-14-00  03:47PM  589 AP Photo.jpg", "AP Photo.jpg", FtpFileType::file, 589,
       utc(2000, 4, 14, 15, 47), 2},
      {"04-14-00  03:47  <DIR>  Apps", "Apps", FtpFileType::folder, kUnknownSize,
       utc(2000, 4, 14, 3, 47), 2},
      // UNIX with ISO dates: long-iso, and full-time with seconds, a fraction and a zone.
      {"-rw-r--r-- 1 o g 1234 2024-03-02 15:13 iso.txt", "iso.txt", FtpFileType::file, 1234,
       utc(2024, 3, 2, 15, 13), 2},
      {"drwxr-xr-x 2 o g 4096 2024-03-02 15:13 two words", "two words", FtpFileType::folder, 4096,
       utc(2024, 3, 2, 15, 13), 2},
      {"-rw-r--r-- 1 o g 5 2024-03-02 15:13:45.123456789 +0100 full", "full", FtpFileType::file, 5,
       utc(2024, 3, 2, 14, 13) + 45, kSecond},
      {"-rw-r--r-- 1 o g 5 2024-03-02 23:59:59.000000000 -0230 west x", "west x", FtpFileType::file,
       5, utc(2024, 3, 3, 2, 29) + 59, kSecond},
      {"-rw-r--r-- 1 o g 5 2024-03-02 15:13:45 +0000", "+0000", FtpFileType::file, 5,
       utc(2024, 3, 2, 15, 13) + 45, kSecond},
      // UNIX with CJK month, day and year; the year guess as for English months.
      {"-rw-r--r-- 1 o g 1234 3\xe6\x9c\x88 2 15:13 cjk", "cjk", FtpFileType::file, 1234,
       utc(2025, 3, 2, 15, 13), 2},
      {"-rw-r--r-- 1 o g 1234 12\xe6\x9c\x88 2\xe6\x97\xa5 15:13 day", "day", FtpFileType::file,
       1234, utc(2024, 12, 2, 15, 13), 2},
      {"drwxr-xr-x 2 o g 4096 3\xe6\x9c\x88 2\xe6\x97\xa5 2003\xe5\xb9\xb4 \xe5\xb9\xb4",
       "\xe5\xb9\xb4", FtpFileType::folder, 4096, utc(2003, 3, 2), 3},
      {"-rw-r--r-- 1 o g 9 3\xe6\x9c\x88  2  2003 plain year", "plain year", FtpFileType::file, 9,
       utc(2003, 3, 2), 3},
      // Leading blanks and an ACL or SELinux mark after the permissions.
      {"  -rw-r--r--   1 o g 531 Jan 29 03:26 indented", "indented", FtpFileType::file, 531,
       utc(2025, 1, 29, 3, 26), 2},
      {"drwxr-xr-x+  2 o g 4096 Jan 29 03:26 acl", "acl", FtpFileType::folder, 4096,
       utc(2025, 1, 29, 3, 26), 2},
      {"-rw-r--r--. 1 o g 7 Jan 29 03:26 selinux", "selinux", FtpFileType::file, 7,
       utc(2025, 1, 29, 3, 26), 2},
      // VMS names in lower case, also starting with a UNIX type letter.
      {"core.dir;1      1  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)", "core", FtpFileType::folder,
       kUnknownSize, utc(1996, 9, 8, 16, 9), 2},
      {"login.com;2    1  19-JAN-2020 08:15:33 [USER] (RWED,RWED,RE,)", "login.com",
       FtpFileType::file, kUnknownSize, utc(2020, 1, 19, 8, 15), 2},
      {"readme.txt;4  2  30-JUL-2044 07:58 [SYSTEM] (RWED,RWED,RE,RE)", "readme.txt",
       FtpFileType::file, kUnknownSize, utc(2044, 7, 30, 7, 58), 2},
  };
  for (const Case& c : cases) expectCase(c);
  for (const char* line : {
           "-rw-r--r-- 1 o g 5 2024-03-02 1:13 name",         // ISO time without its two digits
           "-rw-r--r-- 1 o g 5 2024-03-02 15:13:4 name",      // seconds cut
           "-rw-r--r-- 1 o g 5 13\xe6\x9c\x88 2 15:13 name",  // no thirteenth month
           "        1  8-SEP-1996 16:09 [SYSTEM] (RWE)",      // second line of a VMS entry
           "A_LONG_NAME.TXT;1",
       }) {
    expectRejected(line);
  }
  EXPECT_TRUE(isVmsNameAlone("A_LONG_NAME.TXT;12", 18));
  for (const char* line : {"A NAME.TXT;1", "NAME.TXT;", "NAME.TXT;1 ", ";1", "NAME.TXT"}) {
    EXPECT_FALSE(isVmsNameAlone(line, std::strlen(line))) << line;
  }
}

TEST_F(ListParserTest, EplfLines) {
  const Case cases[] = {
      {"+i8388621.29609,m824255902,/,\tdev", "dev", FtpFileType::folder, kUnknownSize, 824255902,
       1},
      {"+i8388621.44468,m839956783,r,s10376,\tRFCEPLF", "RFCEPLF", FtpFileType::file, 10376,
       839956783, 1},
      {"+r,/,\tboth", "both", FtpFileType::unknown, kUnknownSize, kNone, 0},
      // A fact after the last comma is not acted on.
      {"+r,s99\tname", "name", FtpFileType::file, kUnknownSize, kNone, 0},
      {"+,,r,,\tempty facts", "empty facts", FtpFileType::file, kUnknownSize, kNone, 0},
      {"+s5000000000,m2240611200,r,\tbig", "big", FtpFileType::file, 5000000000ULL, utc(2041, 1, 1),
       1},
      // Past the end of the tick scale: the time is unknown.
      {"+m253402300800,r,\tfar", "far", FtpFileType::file, kUnknownSize, kNone, 1},
      {"+/,\t..", "..", FtpFileType::parentFolder, kUnknownSize, kNone, 0},
  };
  for (const Case& c : cases) expectCase(c);
  for (const char* line : {"+i1,r,s5,", "+", "+\t"}) {
    SCOPED_TRACE(line);
    TestFtpLib connection;
    EXPECT_EQ(connection.toFileInfo(line).name, "");
  }
  ListLineFacts facts;
  std::string line = "+i8388621.44468,r,\tx";
  ASSERT_EQ(parseListLine(facts, line.data(), line.size()), 1);
  EXPECT_EQ(facts.idKind, 1);
  EXPECT_EQ(std::string(facts.id, facts.idLength), "8388621.44468");
}

TEST_F(ListParserTest, OtherLinesRejected) {
  for (const char* line :
       {"x", "Total of 12 files", "226 Transfer complete", " leading blank", "ZZZ.TXT", "\t"}) {
    expectRejected(line);
  }
}

TEST_F(ListParserTest, TimeNeedsAKnownSystemType) {
  const std::string line = "-rw-r--r-- 1 o g 531 Jan 29 03:26 README";
  TestFtpLib unknown("");
  EXPECT_EQ(unknown.toFileInfo(line).modifyTime, ticks::kUnknownTime);
  EXPECT_EQ(unknown.toFileInfo(line).size, 531u);
  // Windows_NT listings are converted exactly like everyone else's.
  TestFtpLib windows("Windows_NT");
  TestFtpLib unix;
  EXPECT_EQ(windows.toFileInfo(line).modifyTime, unix.toFileInfo(line).modifyTime);
  EXPECT_EQ(windows.toFileInfo(line).modifyTime, ticks::fromUnixSeconds(utc(2025, 1, 29, 3, 26)));
  const std::string dos = "04-14-00  03:47PM                  589 readme.htm";
  EXPECT_EQ(windows.toFileInfo(dos).modifyTime, ticks::fromUnixSeconds(utc(2000, 4, 14, 15, 47)));
}

// Adds `days` to midnight of 2025-06-15 and lists the result without its year.
std::string lineDatedDaysBack(std::int64_t now, int days, std::tm& date) {
  const std::time_t then = static_cast<std::time_t>(now - days * 86400LL);
  gmtime_r(&then, &date);
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  return std::string("-rw-r--r-- 1 o g 1 ") + kMonths[date.tm_mon] + " " +
         std::to_string(date.tm_mday) + " 00:00 f";
}

TEST_F(ListParserTest, YearGuessKeepsDatesWithin350DaysInThePast) {
  const std::int64_t now = utc(2025, 6, 15);
  pinClock(now);
  TestFtpLib connection;
  std::tm date{};
  const std::string recent = lineDatedDaysBack(now, 349, date);
  EXPECT_EQ(connection.toFileInfo(recent).modifyTime,
            ticks::fromUnixSeconds(utc(date.tm_year + 1900, date.tm_mon + 1, date.tm_mday)));
  // 351 days back is too far: the date moves one year on, into the future.
  const std::string older = lineDatedDaysBack(now, 351, date);
  EXPECT_EQ(connection.toFileInfo(older).modifyTime,
            ticks::fromUnixSeconds(utc(date.tm_year + 1901, date.tm_mon + 1, date.tm_mday)));
}

TEST_F(ListParserTest, CurrentYearIsWorkedOutOnceAndKept) {
  TestFtpLib connection;
  const std::string line = "-rw-r--r-- 1 o g 1 Jan 29 00:00 f";
  EXPECT_EQ(connection.toFileInfo(line).modifyTime, ticks::fromUnixSeconds(utc(2025, 1, 29)));
  // The clock moves back five years; the remembered year 2025 still starts the search at 2024,
  // whose date lies in the clock's future.
  fakeNow = utc(2020, 6, 15);
  EXPECT_EQ(connection.toFileInfo(line).modifyTime, ticks::fromUnixSeconds(utc(2024, 1, 29)));
  setListClock(fakeClock);
  EXPECT_EQ(connection.toFileInfo(line).modifyTime, ticks::fromUnixSeconds(utc(2020, 1, 29)));
}

TEST_F(ListParserTest, LeapDayWithoutAYearLandsInTheNearestAllowedLeapYear) {
  const std::string line = "-rw-r--r-- 1 o g 1 Feb 29 10:00 f";
  const struct {
    std::int64_t today;
    int year;
  } cases[] = {{utc(2024, 6, 15), 2024}, {utc(2025, 6, 15), 2028}, {utc(2099, 6, 15), 2104}};
  for (const auto& c : cases) {
    pinClock(c.today);
    EXPECT_EQ(TestFtpLib().toFileInfo(line).modifyTime,
              ticks::fromUnixSeconds(utc(c.year, 2, 29, 10, 0)))
        << c.year;
  }
}

TEST(CivilToSeconds, CountsOnPastMonthAndYearEnds) {
  EXPECT_EQ(civilToSeconds(1970, 0, 1), 0);
  EXPECT_EQ(civilToSeconds(1970, 0, 2), 86400);
  EXPECT_EQ(civilToSeconds(1969, 11, 31), -86400);
  EXPECT_EQ(civilToSeconds(2024, 1, 30), utc(2024, 3, 1));   // 30 February 2024
  EXPECT_EQ(civilToSeconds(2023, 12, 1), utc(2024, 1, 1));   // month 12 is next January
  EXPECT_EQ(civilToSeconds(2023, -1, 1), utc(2022, 12, 1));  // month -1 is last December
  EXPECT_EQ(civilToSeconds(2100, 2, 1), utc(2100, 3, 1));
  EXPECT_EQ(civilToSeconds(9999, 11, 31), 253402214400);
}

TEST(ListParserRobustness, AnyBytesNeverCrashAndNamesStayInsideTheLine) {
  std::mt19937 random(12345);
  const std::string alphabet = "+-bcdlps0123456789 ;:<>.,\t[APMDIRJanFebDecfolder\r\n\x80\xff";
  TestFtpLib connection;
  for (int round = 0; round < 100000; ++round) {
    std::string line(random() % 80, '\0');
    for (char& c : line) {
      c = random() % 4 == 0 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
    }
    ListLineFacts facts;
    if (parseListLine(facts, line.data(), line.size()) == 1 && facts.nameLength > 0) {
      ASSERT_GE(facts.name, line.data());
      ASSERT_LE(facts.name + facts.nameLength, line.data() + line.size());
    }
    FtpFileInfo info = connection.toFileInfo(line);
    ASSERT_LE(info.name.size(), line.size());
  }
}

TEST(ListParserRobustness, OverlongNumbersWrapWithoutUndefinedBehaviour) {
  TestFtpLib connection;
  // Twenty-five digits of size, year and day: meaningless values, but no fault (the sanitizer
  // build checks the arithmetic).
  const std::string line =
      "-rw-r--r-- 1 o g 9999999999999999999999999 Jan 9999999999999999 99999999999999999999 n";
  FtpFileInfo info = connection.toFileInfo(line);
  EXPECT_EQ(info.name, "n");
  EXPECT_EQ(info.modifyTime, ticks::kUnknownTime);
  const std::string dos = "99999999999-99999999999-99999999999 99999999999:99999999999PM 9 n";
  EXPECT_EQ(connection.toFileInfo(dos).name, "n");
}

}  // namespace
}  // namespace kestrelkit::net::ftp
