#include <gtest/gtest.h>

#include "marlowick/Downloader.h"
#include "marlowick/SettingsSummary.h"
#include "tests/marlowick/DownloaderTestSupport.h"

namespace {

using marlowick::Downloader;
using marlowick::settingsTable;
using marlowick_test::LogCapture;
using marlowick_test::StdoutCapture;

TEST(SettingsSummaryTest, OnlyTheRowsWithAValue) {
  Downloader job;
  job.host = "ftp.example.org";
  job.local = "/srv/dl/";
  job.justPrint = true;
  EXPECT_EQ(settingsTable(job),
            " host        : ftp.example.org\n"
            " port        : 21\n"
            " local       : /srv/dl/\n"
            " passive     : true\n"
            " justPrint   : true\n"
            " overwrite   : true\n"
            " recurse     : false\n"
            " image       : image\n"
            " encoding    : 0\n"
            "\n");
}

TEST(SettingsSummaryTest, EveryRowInOrderAndInTheOptionUnits) {
  Downloader job;
  job.host = "h";
  job.port = 2121;
  job.username = "anna";
  job.password = "s3cret";
  job.remote = "/pub/data";
  job.local = "/srv/dl/";
  job.passive = false;
  job.justPrint = true;
  job.overwrite = false;
  job.recurse = true;
  job.setAscii();
  job.encoding = 65001;
  job.include = "*.txt|*.csv";
  job.exclude = "tmp*";
  job.lsize = 10 * 1024;        // 10 KB
  job.gsize = 1023;             // less than one KB shows as 0
  job.lmodified = 36000000000;  // 60 minutes
  job.gmodified = -600000001;   // divided toward zero
  job.maxfiles = 5;
  job.maxfolders = 0;
  job.files.resize(3);
  EXPECT_EQ(settingsTable(job),
            " host        : h\n"
            " port        : 2121\n"
            " username    : anna\n"
            " password    : ********\n"
            " remote      : /pub/data\n"
            " local       : /srv/dl/\n"
            " passive     : false\n"
            " justPrint   : true\n"
            " overwrite   : false\n"
            " recurse     : true\n"
            " image       : ascii\n"
            " encoding    : 65001\n"
            " include     : *.txt|*.csv\n"
            " exclude     : tmp*\n"
            " lsize       : 10\n"
            " gsize       : 0\n"
            " lmodified   : 60\n"
            " gmodified   : -1\n"
            " maxfiles    : 5\n"
            " maxfolders  : 0\n"
            " Files       : 3\n"
            "\n");
}

TEST(SettingsSummaryTest, PrintedOnTheConsoleOnlyAndNeverWithThePassword) {
  Downloader job;
  job.host = "h";
  job.password = "p4ss";
  LogCapture log;
  StdoutCapture out;
  EXPECT_TRUE(job.printSettings());
  std::string console = out.text();
  EXPECT_EQ(console, settingsTable(job) + "\n");
  EXPECT_NE(console.find(" password    : ********\n"), std::string::npos);
  EXPECT_EQ(console.find("p4ss"), std::string::npos);
  EXPECT_EQ(log.text(), "");
}

}  // namespace
