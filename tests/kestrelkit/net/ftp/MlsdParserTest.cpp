#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/MlsdParser.h"
#include "tests/support/UtcTime.h"

namespace kestrelkit::net::ftp {
namespace {

using testing_support::utc;

constexpr std::int64_t kNone = -1;

TEST(MlsdParser, Grammar) {
  const struct {
    const char* line;
    const char* name;
    FtpFileType type;
    std::uint64_t size;
    std::int64_t time;  // seconds since 1970, or kNone
  } cases[] = {
      {"type=file;size=1234;modify=20240302151345; notes.txt", "notes.txt", FtpFileType::file, 1234,
       utc(2024, 3, 2, 15, 13, 45)},
      // pure-ftpd, proftpd and pyftpdlib add facts of their own; fact names in any case.
      {"type=dir;modify=20231130000000;UNIX.mode=0755;UNIX.uid=1000;unique=803g2; archive",
       "archive", FtpFileType::folder, kUnknownSize, utc(2023, 11, 30, 0, 0, 0)},
      {"Type=FILE;Size=5000000000;Modify=20410101000000.123; big.iso", "big.iso", FtpFileType::file,
       5000000000ULL, utc(2041, 1, 1, 0, 0, 0)},
      {"type=cdir;modify=20240101000000; .", ".", FtpFileType::currentFolder, kUnknownSize,
       utc(2024, 1, 1, 0, 0, 0)},
      {"type=pdir; ..", "..", FtpFileType::parentFolder, kUnknownSize, kNone},
      // Links and other types are not files; nor is an entry without a type.
      {"type=OS.unix=slink:/etc/passwd;size=11; link", "link", FtpFileType::unknown, 11, kNone},
      {"type=OS.unix=chr-12/34; tty", "tty", FtpFileType::unknown, kUnknownSize, kNone},
      {"size=12;modify=20240302151345; untyped", "untyped", FtpFileType::unknown, 12,
       utc(2024, 3, 2, 15, 13, 45)},
      {" bare name", "bare name", FtpFileType::unknown, kUnknownSize, kNone},
      // A name is any bytes after the first blank: blanks, ";" and "=" kept.
      {"type=file;size=1; two  words; a=b ", "two  words; a=b ", FtpFileType::file, 1, kNone},
      {"type=file;size=3;  leading", " leading", FtpFileType::file, 3, kNone},
      // Facts that do not read are unknown, the entry stays.
      {"type=file;size=12x;modify=2024030215134; odd", "odd", FtpFileType::file, kUnknownSize,
       kNone},
      {"type=file;size=;modify=20241302151345; month13", "month13", FtpFileType::file, kUnknownSize,
       kNone},
      {"type=file;size=99999999999999999999;modify=20240302151345Z; over", "over",
       FtpFileType::file, kUnknownSize, kNone},
      {"type=file;size=18446744073709551615;modify=20161231235960; leap", "leap", FtpFileType::file,
       18446744073709551615ULL, utc(2017, 1, 1, 0, 0, 0)},
      {"type=file;modify=99991231235959;modify=x; far", "far", FtpFileType::file, kUnknownSize,
       utc(9999, 12, 31, 23, 59, 59)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const FtpFileInfo info = FtpLib::toMlsdFileInfo(c.line);
    EXPECT_EQ(info.name, c.name);
    EXPECT_EQ(info.type, c.type);
    EXPECT_EQ(info.size, c.size);
    EXPECT_EQ(info.modifyTime,
              c.time == kNone ? ticks::kUnknownTime : ticks::fromUnixSeconds(c.time));
  }
  for (const char* line : {
           "",
           "type=file;size=1;name.txt",  // no blank before the name
           "type=file;size=1; ",         // an empty name
           "type=file;size=1 name",      // the last fact not closed
           "type=file;=1; name",         // a fact without its name
           "typefile; name",             // a fact without "="
           "total 12",
           "-rw-r--r-- 1 o g 5 Jan 29 03:26 name",
       }) {
    SCOPED_TRACE(line);
    MlsdLineFacts facts;
    EXPECT_EQ(parseMlsdLine(facts, line, std::char_traits<char>::length(line)), 0);
    EXPECT_EQ(FtpLib::toMlsdFileInfo(line), FtpFileInfo{});
  }
}

TEST(MlsdParser, AnyBytesNeverCrashAndNamesStayInsideTheLine) {
  std::mt19937 random(23);
  const std::string alphabet = "type=filedirsizemodify;.0123456789 \t\r\x80\xff";
  for (int round = 0; round < 100000; ++round) {
    std::string line(random() % 80, '\0');
    for (char& c : line) {
      c = random() % 4 == 0 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
    }
    MlsdLineFacts facts;
    if (parseMlsdLine(facts, line.data(), line.size()) == 1) {
      ASSERT_GT(facts.nameLength, 0u);
      ASSERT_GE(facts.name, line.data());
      ASSERT_EQ(facts.name + facts.nameLength, line.data() + line.size());
    }
  }
}

}  // namespace
}  // namespace kestrelkit::net::ftp
