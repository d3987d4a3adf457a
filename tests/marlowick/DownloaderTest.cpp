#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/Downloader.h"
#include "marlowick/SettingsSummary.h"
#include "platform/Files.h"
#include "tests/marlowick/DownloaderJobSupport.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/TempDir.h"

namespace {

using marlowick::Downloader;
using marlowick_test::errorLine;
using marlowick_test::fileLine;
using marlowick_test::folderLine;
using marlowick_test::infoLine;
using marlowick_test::jobFor;
using marlowick_test::runJob;
using platform::PathKind;
using testing_support::FakeFtpServer;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

using Commands = std::vector<std::string>;

const std::string kConnecting = " Connecting 127.0.0.1 ...\n";
const std::string kConnected = " Connected to 127.0.0.1";
const std::string kUtf8 = " the encoding of ftp server is UTF8";
const Commands kLogin = {"USER user", "PASS secret", "SYST", "FEAT", "OPTS UTF8 ON"};

Commands concat(Commands first, const Commands& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST(DownloaderTest, ModeSetters) {
  Downloader job;
  EXPECT_EQ(job.transferMode, 'I');
  EXPECT_TRUE(job.setAscii());
  EXPECT_EQ(job.transferMode, 'A');
  EXPECT_TRUE(job.setImage());
  EXPECT_EQ(job.transferMode, 'I');
}

TEST(DownloaderTest, ConnectionFailureGivesExactlyTwoLines) {
  int port = 0;
  {
    FakeFtpServer gone;  // a port on which nobody listens any more
    port = gone.port();
  }
  TempDir dir;
  Downloader job = jobFor(port, dir.path());
  auto run = runJob(job);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.console, kConnecting + "Unable to connect to 127.0.0.1 Connection refused\n");
  EXPECT_EQ(run.log, errorLine("Unable to connect to 127.0.0.1 Connection refused"));
}

TEST(DownloaderTest, RefusedGreetingIsAFailedConnection) {
  FakeFtpServer server;
  server.setGreeting("421 Too many users.");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  auto run = runJob(job);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.console, kConnecting + "Unable to connect to 127.0.0.1 421 Too many users.\n");
  EXPECT_EQ(run.log, errorLine("Unable to connect to 127.0.0.1 421 Too many users."));
  EXPECT_TRUE(server.commands().empty());
}

TEST(DownloaderTest, LoginFailure) {
  FakeFtpServer server;
  server.setReply("PASS", "530 Login incorrect.");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  auto run = runJob(job);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.console, kConnecting + "Login failure 530 Login incorrect.\n");
  EXPECT_EQ(run.log, errorLine("Login failure 530 Login incorrect."));
  // The connection ends without "QUIT".
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_EQ(server.commands(), (Commands{"USER user", "PASS secret"}));
}

TEST(DownloaderTest, FolderChangeFailure) {
  FakeFtpServer server;
  server.setReply("CWD", "550 missing: No such directory.");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.remote = "missing";
  auto run = runJob(job);
  EXPECT_FALSE(run.result);
  const std::string failure =
      "working directory changed to missing failure, 550 missing: No such directory.";
  EXPECT_EQ(run.console, kConnecting + kConnected + "\n" + kUtf8 + "\n" + failure + "\n");
  EXPECT_EQ(run.log, infoLine(kConnected) + infoLine(kUtf8) + errorLine(failure));
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_EQ(server.commands(), concat(kLogin, {"CWD missing"}));
}

TEST(DownloaderTest, NothingMatched) {
  FakeFtpServer server;
  server.setListing("", folderLine("empty"));
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.remote = "pub";
  auto run = runJob(job);
  EXPECT_FALSE(run.result);
  const std::string noMatch = "No files matched on remote server: 127.0.0.1";
  EXPECT_EQ(run.console, kConnecting + kConnected + "\n" + kUtf8 +
                             "\n working directory changed to pub\n" + noMatch + "\n");
  EXPECT_EQ(run.log, infoLine(kConnected) + infoLine(kUtf8) + errorLine(noMatch));
}

TEST(DownloaderTest, NothingMatchedInListModeShowsTheTableFirst) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.txt", 5));
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.justPrint = true;
  job.include = "*.csv";
  auto run = runJob(job);
  EXPECT_FALSE(run.result);
  const std::string noMatch = "No files matched on remote server: 127.0.0.1";
  const std::string table = marlowick::settingsTable(job);
  EXPECT_EQ(table.find(" Files"), std::string::npos);
  EXPECT_NE(table.find(" encoding    : 65001\n"), std::string::npos);
  EXPECT_EQ(run.console,
            kConnecting + kConnected + "\n" + kUtf8 + "\n" + table + "\n" + noMatch + "\n");
  EXPECT_EQ(run.log, infoLine(kConnected) + infoLine(kUtf8) + errorLine(noMatch));
}

TEST(DownloaderTest, RefusedUtf8LeavesTheEncodingAndSaysNothing) {
  FakeFtpServer server;
  server.setReply("OPTS UTF8 ON", "501 Unsupported.");
  server.setListing("", "");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  auto run = runJob(job);
  EXPECT_EQ(job.encoding, 0u);
  EXPECT_EQ(run.console.find(kUtf8), std::string::npos);
  EXPECT_EQ(run.log.find(kUtf8), std::string::npos);
}

TEST(DownloaderTest, RecursiveJobRebuildsTheTreeBelowTheLocalFolder) {
  FakeFtpServer server;
  server.setListing("", folderLine("sub") + fileLine("top.txt", 3));
  server.setListing("sub", fileLine("a.txt", 5) + folderLine("deeper"));
  server.setListing("sub/deeper", fileLine("c.bin", 4));
  server.setFile("sub/a.txt", "hello");
  server.setFile("sub/deeper/c.bin", std::string("\0\1\2\3", 4));
  server.setFile("top.txt", "top");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.recurse = true;
  job.remote = "pub";
  auto run = runJob(job);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(job.savedCount, 3u);
  EXPECT_EQ(readFile(dir.file("sub/a.txt")), "hello");
  EXPECT_EQ(readFile(dir.file("sub/deeper/c.bin")), std::string("\0\1\2\3", 4));
  EXPECT_EQ(readFile(dir.file("top.txt")), "top");
  const std::string messages[] = {" Downloading sub/a.txt 1/3 ...",
                                  " Downloading sub/deeper/c.bin 2/3 ...",
                                  " Downloading top.txt 3/3 ..."};
  EXPECT_EQ(run.console, kConnecting + kConnected + "\n" + kUtf8 +
                             "\n working directory changed to pub\n" + messages[0] + "\n" +
                             messages[1] + "\n" + messages[2] + "\n");
  EXPECT_EQ(run.log, infoLine(kConnected) + infoLine(kUtf8) + infoLine(messages[0]) +
                         infoLine(messages[1]) + infoLine(messages[2]));
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_EQ(server.commandsWithVerb("RETR"),
            (Commands{"RETR sub/a.txt", "RETR sub/deeper/c.bin", "RETR top.txt"}));
  EXPECT_EQ(server.commandsWithVerb("QUIT"), Commands{});
}

TEST(DownloaderTest, WithoutRecursionSubfoldersAreNotEntered) {
  FakeFtpServer server;
  server.setListing("", folderLine("sub") + fileLine("top.txt", 3));
  server.setFile("top.txt", "top");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  auto run = runJob(job);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(job.savedCount, 1u);
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_EQ(server.commandsWithVerb("LIST"), Commands{"LIST"});
  // No folder change either: the scan lists where the login left the connection.
  EXPECT_EQ(server.commandsWithVerb("CWD"), Commands{});
}

TEST(DownloaderTest, AsciiTransfersAskForTypeA) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.txt", 5));
  server.setFile("a.txt", "hello");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.setAscii();
  auto run = runJob(job);
  EXPECT_EQ(job.savedCount, 1u);
  ASSERT_TRUE(server.waitForClosedConnections(1));
  Commands commands = server.commands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(Commands(commands.end() - 2, commands.end()), (Commands{"RETR a.txt", "PASV"}));
  // The listing put the server in text mode already; it stays there for the file.
  EXPECT_EQ(server.commandsWithVerb("TYPE"), Commands{"TYPE A"});
}

TEST(DownloaderTest, FiltersReachTheScan) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.txt", 100) + fileLine("b.txt", 5000) + fileLine("c.csv", 10) +
                            fileLine("skip.txt", 10) + fileLine("d.txt", 20));
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.justPrint = true;
  job.include = "*.txt|*.csv";
  job.exclude = "skip*";
  job.lsize = 1024;  // at most 1 KB
  job.maxfiles = 2;
  auto run = runJob(job);
  ASSERT_EQ(job.files.size(), 2u);
  EXPECT_EQ(job.files[0].name, "a.txt");
  EXPECT_EQ(job.files[1].name, "c.csv");
}

TEST(DownloaderTest, ListModeShowsEveryFileAndFetchesNothing) {
  FakeFtpServer server;
  server.setListing("", folderLine("sub") + fileLine("a.txt", 5, "Mar 15  2021"));
  server.setListing("sub", fileLine("b.txt", 3, "Feb 29  2020"));
  TempDir dir;
  writeFile(dir.file("a.txt"), "12345");  // same size, but overwrite is on
  Downloader job = jobFor(server.port(), dir.path() + "/new");
  job.recurse = true;
  job.justPrint = true;
  auto run = runJob(job);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(job.savedCount, 0u);
  const std::string found[] = {" found sub/b.txt, last modified: 2020-02-29T00:00:00",
                               " found a.txt, last modified: 2021-03-15T00:00:00"};
  EXPECT_EQ(run.console, kConnecting + kConnected + "\n" + kUtf8 + "\n" +
                             marlowick::settingsTable(job) + "\n" + found[0] + "\n" + found[1] +
                             "\n");
  EXPECT_NE(marlowick::settingsTable(job).find(" Files       : 2\n"), std::string::npos);
  EXPECT_EQ(run.log,
            infoLine(kConnected) + infoLine(kUtf8) + infoLine(found[0]) + infoLine(found[1]));
  EXPECT_EQ(platform::pathKind(dir.file("new")), PathKind::missing);
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_EQ(server.commandsWithVerb("RETR"), Commands{});
}

TEST(DownloaderTest, SameSizeFilesAreSkippedWhenNotOverwriting) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.txt", 5) + fileLine("b.txt", 3) + fileLine("c.txt", 4) +
                            fileLine("d.txt", 2));
  server.setFile("c.txt", "cccc");
  server.setFile("d.txt", "dd");
  TempDir dir;
  writeFile(dir.file("a.txt"), "12345");
  writeFile(dir.file("b.txt"), "123");
  writeFile(dir.file("c.txt"), "1");  // another size: fetched again
  ASSERT_TRUE(platform::makeFolder(dir.file("d.txt/")));
  Downloader job = jobFor(server.port(), dir.path());
  job.overwrite = false;
  auto run = runJob(job);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(job.savedCount, 1u);
  EXPECT_EQ(readFile(dir.file("a.txt")), "12345");
  EXPECT_EQ(readFile(dir.file("c.txt")), "cccc");
  // Positions count the skipped files; a folder in the way is not a same-size file.
  const std::string lines[] = {" Same size, skiped: a.txt", " Same size, skiped: b.txt",
                               " Downloading c.txt 3/4 ...", " Downloading d.txt 4/4 ...",
                               "Download d.txt failed: Is a directory"};
  EXPECT_EQ(run.console, kConnecting + kConnected + "\n" + kUtf8 + "\n" + lines[0] + "\n" +
                             lines[1] + "\n" + lines[2] + "\n" + lines[3] + "\n" + lines[4] + "\n");
  EXPECT_EQ(run.log, infoLine(kConnected) + infoLine(kUtf8) + infoLine(lines[0]) +
                         infoLine(lines[1]) + infoLine(lines[2]) + infoLine(lines[3]) +
                         errorLine(lines[4]));
}

TEST(DownloaderTest, ListModeReportsSameSizeFilesAsSkipped) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.txt", 5) + fileLine("b.txt", 3));
  TempDir dir;
  writeFile(dir.file("a.txt"), "12345");
  Downloader job = jobFor(server.port(), dir.path());
  job.overwrite = false;
  job.justPrint = true;
  auto run = runJob(job);
  EXPECT_NE(run.console.find("\n Same size, skiped: a.txt\n"
                             " found b.txt, last modified: 2024-01-01T00:00:00\n"),
            std::string::npos);
}

std::string mlsdLine(const std::string& name, std::size_t size, const std::string& modify) {
  return "type=file;size=" + std::to_string(size) + ";modify=" + modify + "; " + name + "\r\n";
}

// Run after run against one server: what each fetches, skips and leaves as the files' times.
TEST(DownloaderTest, KeptTimesLetNewerFetchOnlyWhatChanged) {
  FakeFtpServer server;
  server.setReply("FEAT", "211-Features:\n MLST type*;size*;modify*;\n211 End");
  server.setFile("a.txt", "aaaaa");
  server.setFile("b.txt", "bbb");
  TempDir dir;
  constexpr std::int64_t kMarch2 = 1709392425;  // 2024-03-02 15:13:45 UTC
  struct Step {
    const char* what;
    std::string listing;  // by MLSD; empty: MLSD refused, by LIST
    bool keeptime, newer, justPrint;
    std::vector<std::string> lines;  // Info lines about the files, in order
    std::int64_t aTime, bTime;       // the local files' times afterwards; 0: the clock's
  };
  const std::string later =
      mlsdLine("a.txt", 5, "20240302151346") + mlsdLine("b.txt", 3, "20240302151345");
  const Step steps[] = {
      {"kept to the second",
       mlsdLine("a.txt", 5, "20240302151345.250") + mlsdLine("b.txt", 3, "20240302151345"),
       true,
       false,
       false,
       {" Downloading a.txt 1/2 ...", " Downloading b.txt 2/2 ..."},
       kMarch2,
       kMarch2},
      {"nothing changed",
       mlsdLine("a.txt", 5, "20240302151345") + mlsdLine("b.txt", 3, "20240302151345"),
       false,
       true,
       false,
       {" Unchanged, skipped: a.txt", " Unchanged, skipped: b.txt"},
       kMarch2,
       kMarch2},
      {"list mode shows the same",
       later,
       false,
       true,
       true,
       {" found a.txt, last modified: 2024-03-02T15:13:46", " Unchanged, skipped: b.txt"},
       kMarch2,
       kMarch2},
      {"changed in place, same size",
       later,
       false,
       true,
       false,
       {" Downloading a.txt 1/2 ...", " Unchanged, skipped: b.txt"},
       kMarch2 + 1,
       kMarch2},
      // LIST gives the day only: the file gets its start, and is not newer the next time.
      {"by LIST",
       "",
       true,
       false,
       false,
       {" Downloading a.txt 1/2 ...", " Downloading b.txt 2/2 ..."},
       1704067200,
       1704067200},
      {"by LIST again",
       "",
       false,
       true,
       false,
       {" Unchanged, skipped: a.txt", " Unchanged, skipped: b.txt"},
       1704067200,
       1704067200},
      {"without keeptime",
       "",
       false,
       false,
       false,
       {" Downloading a.txt 1/2 ...", " Downloading b.txt 2/2 ..."},
       0,
       0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.listing.empty()) {
      server.setReply("MLSD", "500 Unknown command.");
      server.setListing("", fileLine("a.txt", 5) + fileLine("b.txt", 3));
    } else {
      server.setMlsdListing("", step.listing);
    }
    Downloader job = jobFor(server.port(), dir.path());
    job.keeptime = step.keeptime || step.newer;
    job.newer = step.newer;
    job.justPrint = step.justPrint;
    const std::int64_t before = std::time(nullptr);
    auto run = runJob(job);
    EXPECT_TRUE(run.result);
    std::string expected;
    for (const std::string& line : step.lines) expected += infoLine(line);
    std::string fileLines;
    std::istringstream log(run.log);
    for (std::string line; std::getline(log, line);) {
      if (line.find(" a.txt") != std::string::npos || line.find(" b.txt") != std::string::npos) {
        fileLines += line + "\n";
      }
    }
    EXPECT_EQ(fileLines, expected);
    EXPECT_NE(run.log.find(infoLine(step.listing.empty()
                                        ? " MLSD refused (500 Unknown command.): folders are "
                                          "listed with LIST"
                                        : " Folders are listed with MLSD")),
              std::string::npos)
        << run.log;
    const std::int64_t times[] = {step.aTime, step.bTime};
    const char* names[] = {"a.txt", "b.txt"};
    for (int i = 0; i < 2; ++i) {
      const auto written = platform::modifiedTime(dir.file(names[i]));
      ASSERT_TRUE(written) << names[i];
      EXPECT_EQ(*written, times[i] != 0 ? times[i] : std::max(*written, before)) << names[i];
    }
  }
}

/// A job whose per-file steps can be driven with records made by hand.
class RecordJob : public Downloader {
 public:
  using Downloader::handleFile;
};

kestrelkit::net::ftp::FtpFileInfo record(const std::string& name, std::uint64_t size,
                                         std::int64_t modified) {
  kestrelkit::net::ftp::FtpFileInfo file;
  file.name = name;
  file.type = kestrelkit::net::ftp::FtpFileType::file;
  file.size = size;
  file.modifyTime = modified;
  return file;
}

TEST(DownloaderTest, UnknownSizesAreNeverSameAndUnknownTimesShowAsTheLastDay) {
  namespace ticks = kestrelkit::net::ftp::ticks;
  TempDir dir;
  writeFile(dir.file("known.txt"), "123");
  writeFile(dir.file("unknown.txt"), "");
  RecordJob job;
  job.local = dir.path() + "/";
  job.overwrite = false;
  job.justPrint = true;
  kestrelkit::net::ftp::FtpLib unconnected;
  marlowick_test::LogCapture log;
  marlowick_test::StdoutCapture out;
  job.handleFile(unconnected, record("known.txt", 3, ticks::fromUnixSeconds(0)), 1, 3);
  job.handleFile(unconnected,
                 record("unknown.txt", kestrelkit::net::ftp::kUnknownSize, ticks::kUnknownTime), 2,
                 3);
  job.handleFile(unconnected, record("missing.txt", 0, ticks::fromUnixSeconds(86399)), 3, 3);
  const std::string lines[] = {" Same size, skiped: known.txt",
                               " found unknown.txt, last modified: 9999-12-31T23:59:59",
                               " found missing.txt, last modified: 1970-01-01T23:59:59"};
  EXPECT_EQ(out.text(), lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n");
  EXPECT_EQ(log.text(), infoLine(lines[0]) + infoLine(lines[1]) + infoLine(lines[2]));
  EXPECT_EQ(platform::pathKind(dir.file("missing.txt")), PathKind::missing);
}

TEST(DownloaderTest, FolderFailureSkipsTheFileAndGoesOn) {
  FakeFtpServer server;
  server.setListing("", folderLine("blocked") + fileLine("z.txt", 1));
  server.setListing("blocked", fileLine("a.txt", 1) + fileLine("b.txt", 1));
  server.setFile("z.txt", "z");
  TempDir dir;
  writeFile(dir.file("blocked"), "a file where a folder is needed");
  Downloader job = jobFor(server.port(), dir.path());
  job.recurse = true;
  auto run = runJob(job);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(job.savedCount, 1u);
  const std::string conflict = "Path.createPath :: file/folder conflict: " + dir.file("blocked");
  const std::string lines[] = {"create " + dir.file("blocked/a.txt") + " catch " + conflict,
                               "create " + dir.file("blocked/b.txt") + " catch " + conflict,
                               " Downloading z.txt 3/3 ..."};
  EXPECT_EQ(run.log, infoLine(kConnected) + infoLine(kUtf8) + errorLine(lines[0]) +
                         errorLine(lines[1]) + infoLine(lines[2]));
}

// Two requests at the prompt share the record of folders made; the user removes one in between.
TEST(DownloaderTest, AFolderRemovedBetweenTwoJobsIsMadeAgain) {
  FakeFtpServer server;
  server.setListing("", folderLine("sub"));
  server.setListing("sub", fileLine("a.txt", 1));
  server.setFile("sub/a.txt", "a");
  TempDir dir;
  for (int request = 1; request <= 2; ++request) {
    Downloader job = jobFor(server.port(), dir.path());
    job.recurse = true;
    auto run = runJob(job);
    EXPECT_EQ(job.savedCount, 1u) << request << run.log;
    std::filesystem::remove_all(dir.file("sub"));
  }
}

}  // namespace
