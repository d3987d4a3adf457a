// The connections argument: its values, its place after image, its row of the settings table and
// its line of the help text.
#include <gtest/gtest.h>

#include "tests/marlowick/ApplyArgumentsSupport.h"

#include "marlowick/Config.h"
#include "marlowick/Downloader.h"
#include "marlowick/Downloading.h"
#include "marlowick/SettingsSummary.h"
#include "util/Arguments.h"

namespace {

using marlowick::Downloader;
using Tokens = std::vector<std::string>;

using marlowick_test::Applied;
using marlowick_test::apply;

TEST(ConnectionsArgument, ValuesTable) {
  struct Case {
    Tokens tokens;
    bool accepted;
    int connections;      // the job's value afterwards
    const char* console;  // what was reported
  };
  const Case cases[] = {
      {{}, true, 1, ""},
      {{"--connections=1"}, true, 1, ""},
      {{"--connections=4"}, true, 4, ""},
      {{"--connections=16"}, true, 16, ""},
      {{"--connections=016"}, true, 16, ""},
      {{"--connections= +8"}, true, 8, ""},
      {{"--connections=2", "--connections=3"}, true, 3, ""},
      {{"--connections=0"}, false, 1, "Invalid connections value: 0\n"},
      {{"--connections=17"}, false, 1, "Invalid connections value: 17\n"},
      {{"--connections=-4"}, false, 1, "Invalid connections value: -4\n"},
      {{"--connections=4294967297"}, false, 1, "Invalid connections value: 4294967297\n"},
      {{"--connections=0x4"}, false, 1, "Invalid connections value: 0x4\n"},
      {{"--connections=2.5"}, false, 1, "Invalid connections value: 2.5\n"},
      {{"--connections=4 "}, false, 1, "Invalid connections value: 4 \n"},
      // Named without a value: nothing to apply.
      {{"--connections="}, true, 1, ""},
      {{"--connections= "}, false, 1, "Invalid connections value:  \n"},
      {{"--connections=many"}, false, 1, "Invalid connections value: many\n"},
      // The last value wins, and the first invalid one stops with the earlier ones applied.
      {{"--connections=5", "--connections=99"}, false, 5, "Invalid connections value: 99\n"},
      // Checked after image: an invalid image value is the only report.
      {{"--image=maybe", "--connections=0"}, false, 1, "Invalid image value: maybe\n"},
      {{"--image=false", "--connections=6"}, true, 6, ""},
      // Names are case-sensitive: another name is ignored like any unknown one.
      {{"--Connections=0"}, true, 1, ""},
      // The time limit is checked after the connections, with its own message.
      {{"--connections=2", "--timeout=86401"}, false, 2, "Invalid timeout value: 86401\n"},
      {{"--connections=2", "--timeout=-1"}, false, 2, "Invalid timeout value: -1\n"},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& token : c.tokens) trace += token + " ";
    SCOPED_TRACE(trace);
    Applied r = apply(c.tokens);
    EXPECT_EQ(r.accepted, c.accepted);
    EXPECT_EQ(r.job.connections, c.connections);
    EXPECT_EQ(r.console, c.console);
  }
}

TEST(ConnectionsArgument, SettingsRowAfterMaxfoldersOnlyAboveOne) {
  Downloader job;
  job.host = "h";
  job.local = "/dl/";
  job.justPrint = true;
  job.maxfolders = 3;
  job.files.resize(2);
  const std::string tail = " maxfolders  : 3\n Files       : 2\n\n";
  for (int connections : {1, 2, 16}) {
    SCOPED_TRACE(connections);
    job.connections = connections;
    const std::string table = marlowick::settingsTable(job);
    const std::string expected =
        connections == 1 ? tail
                         : " maxfolders  : 3\n connections : " + std::to_string(connections) +
                               "\n Files       : 2\n\n";
    ASSERT_GE(table.size(), expected.size());
    EXPECT_EQ(table.substr(table.size() - expected.size()), expected);
    EXPECT_EQ(table.find("connections") != std::string::npos, connections > 1);
  }
}

TEST(ConnectionsArgument, TimeoutRowOnlyWhenNotTheDefault) {
  Downloader job;
  job.host = "h";
  for (std::int64_t seconds : {60, 0, 5}) {
    job.timeout = seconds;
    const bool shown = marlowick::settingsTable(job).find(" timeout     : " +
                                                         std::to_string(seconds) + "\n") !=
                       std::string::npos;
    EXPECT_EQ(shown, seconds != 60) << seconds;
  }
  EXPECT_NE(marlowick::config().helpText().find("--timeout=SECONDS"), std::string::npos);
}

TEST(ConnectionsArgument, RetriesAndResume) {
  struct Case {
    Tokens tokens;
    bool accepted;
    int retries;
    bool resume;
    const char* console;
    const char* rows;  // of the settings table, in order; "" for none
  };
  const Case cases[] = {
      {{}, true, 3, false, "", ""},
      {{"--retries=0", "--resume=true"}, true, 0, true, "",
       " retries     : 0\n resume      : true\n"},
      {{"--retries=1000"}, true, 1000, false, "", " retries     : 1000\n"},
      {{"--retries=1001"}, false, 3, false, "Invalid retries value: 1001\n", ""},
      {{"--retries=-1"}, false, 3, false, "Invalid retries value: -1\n", ""},
      {{"--resume=maybe"}, false, 3, false,
       "Invalid resume value: maybe\nValid value is true or false\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tokens.empty() ? "" : c.tokens[0]);
    Applied r = apply(c.tokens);
    EXPECT_EQ(r.accepted, c.accepted);
    EXPECT_EQ(r.job.retries, c.retries);
    EXPECT_EQ(r.job.resume, c.resume);
    EXPECT_EQ(r.console, c.console);
    const std::string table = marlowick::settingsTable(r.job);
    // The last rows here: the table's closing blank line follows.
    const std::size_t from = table.find(" retries");
    EXPECT_EQ(from == std::string::npos ? "" : table.substr(from, table.size() - from - 1), c.rows);
  }
}

TEST(ConnectionsArgument, ListedInTheHelpText) {
  const std::string help = marlowick::config().helpText();
  const std::size_t image = help.find("--image=");
  const std::size_t connections = help.find("--connections=N");
  ASSERT_NE(connections, std::string::npos);
  EXPECT_GT(connections, image);
  EXPECT_NE(help.find("1 to 16", connections), std::string::npos);
}

}  // namespace
