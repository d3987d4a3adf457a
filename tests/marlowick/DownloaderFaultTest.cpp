// A hostile or failing server must neither write outside the local folder nor destroy a good
// local copy, and a failed transfer is never counted as saved.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/Downloader.h"
#include "platform/Files.h"
#include "tests/marlowick/DownloaderJobSupport.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/TempDir.h"

namespace {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpFileType;
using kestrelkit::net::ftp::FtpLib;
using marlowick::Downloader;
using marlowick_test::errorLine;
using marlowick_test::fileLine;
using marlowick_test::folderLine;
using marlowick_test::infoLine;
using marlowick_test::jobFor;
using marlowick_test::LogCapture;
using marlowick_test::runJob;
using marlowick_test::StdoutCapture;
using platform::PathKind;
using testing_support::FakeFtpServer;
using testing_support::FakeTransfer;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

using Commands = std::vector<std::string>;

const std::string kConnecting = " Connecting 127.0.0.1 ...\n";
const std::string kConnected = " Connected to 127.0.0.1";
const std::string kUtf8 = " the encoding of ftp server is UTF8";

/// Every path below `root`, relative to it.
std::set<std::string> tree(const std::string& root) {
  std::set<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    paths.insert(std::filesystem::relative(entry.path(), root).string());
  }
  return paths;
}

TEST(DownloaderFaultTest, ListedNamesNeverLeaveTheLocalFolder) {
  FakeFtpServer server;
  server.setListing("", fileLine("../../.bashrc", 4) + fileLine("..\\x", 4) +
                            fileLine("/etc/x", 4) + folderLine("up\\..\\..") + fileLine("..x", 2) +
                            fileLine("x..", 2) + folderLine("sub"));
  server.setListing("up/../..", fileLine("evil", 4));
  server.setListing("sub", folderLine("."));
  server.setFile("..x", "ok");
  server.setFile("x..", "ok");
  for (const char* name : {"../../.bashrc", "../x", "/etc/x", "up/../../evil"}) {
    server.setFile(name, "evil");
  }
  TempDir dir;
  ASSERT_TRUE(platform::makeFolderChain(dir.file("deep/er")));
  Downloader job = jobFor(server.port(), dir.file("deep/er"));
  job.recurse = true;
  auto run = runJob(job);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(job.savedCount, 2u);
  EXPECT_EQ(tree(dir.path()),
            (std::set<std::string>{"deep", "deep/er", "deep/er/..x", "deep/er/x.."}));
  // Each hostile file name gets one error report and nothing else; the hostile folder is
  // never entered, so its file is never selected.
  for (const std::string name : {"../../.bashrc", "../x", "/etc/x", "up/../../evil"}) {
    bool selected = false;
    for (const auto& record : job.files) selected = selected || record.name == name;
    const std::string report = "Unsafe remote name, not downloaded: " + name;
    std::size_t at = run.log.find(errorLine(report));
    EXPECT_EQ(at != std::string::npos, selected) << name;
    if (selected) {
      EXPECT_EQ(run.log.find(errorLine(report), at + 1), std::string::npos) << name;
    }
    EXPECT_EQ(run.log.find(" found " + name), std::string::npos) << name;
  }
  for (const char* name : {"/etc/x", "../../.bashrc", "../x"}) {
    EXPECT_NE(run.log.find(errorLine(std::string("Unsafe remote name, not downloaded: ") + name)),
              std::string::npos)
        << name;
  }
  const std::size_t n = job.files.size();
  EXPECT_NE(
      run.log.find(
          infoLine(" Downloading ..x " + std::to_string(n - 1) + "/" + std::to_string(n) + " ...") +
          infoLine(" Downloading x.. " + std::to_string(n) + "/" + std::to_string(n) + " ...")),
      std::string::npos);
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_EQ(server.commandsWithVerb("RETR"), (Commands{"RETR ..x", "RETR x.."}));
}

/// A job whose per-file steps can be driven with records made by hand.
class RecordJob : public Downloader {
 public:
  using Downloader::handleFile;
};

TEST(DownloaderFaultTest, UnsafeRecordsAreReportedOnceAndNeitherListedNorTouched) {
  const std::string names[] = {"a//b", "a/",     "a/.",       ".",
                               "..",   "sub/..", "..\\..\\x", std::string("a\0/../../x", 10)};
  for (bool listOnly : {true, false}) {
    TempDir dir;
    RecordJob job;
    job.local = dir.path() + "/";
    job.justPrint = listOnly;
    job.encoding = 65001;
    FtpLib unconnected;
    LogCapture log;
    StdoutCapture out;
    std::string expected;
    for (const auto& name : names) {
      FtpFileInfo record;
      record.name = name;
      record.type = FtpFileType::file;
      record.size = 1;
      job.handleFile(unconnected, record, 1, 1);
    }
    std::string console = out.text();
    std::string logText = log.text();
    EXPECT_EQ(console.find("found"), std::string::npos) << listOnly;
    EXPECT_EQ(console.find("Downloading"), std::string::npos) << listOnly;
    for (const std::string shown :
         {"a//b", "a/", "a/.", ".", "..", "sub/..", "..\\..\\x", "a\\x00/../../x"}) {
      std::string line = "Unsafe remote name, not downloaded: " + shown;
      EXPECT_NE(console.find(line + "\n"), std::string::npos) << shown;
      EXPECT_NE(logText.find(errorLine(line)), std::string::npos) << shown;
    }
    EXPECT_EQ(job.savedCount, 0u);
    EXPECT_TRUE(tree(dir.path()).empty());
  }
}

struct FailedTransfer {
  const char* name;
  FakeTransfer transfer;
  std::string reply;  // the reply text the message must carry ("" = any)
};

FakeTransfer withReply(std::string data, std::string finalReply) {
  FakeTransfer transfer;
  transfer.data = std::move(data);
  transfer.finalReply = std::move(finalReply);
  return transfer;
}

FakeTransfer droppedData() {
  FakeTransfer transfer = withReply(std::string(10000, 'n'), "426 Connection closed; aborted.");
  transfer.dropAfter = 4000;
  transfer.resetOnDrop = true;
  return transfer;
}

FakeTransfer droppedControl() {
  FakeTransfer transfer = withReply(std::string(5000, 'n'), "");
  transfer.dropControl = true;
  return transfer;
}

TEST(DownloaderFaultTest, FailedTransfersKeepTheGoodCopyAndAreNotCounted) {
  const FailedTransfer cases[] = {
      {"aborted after the data", withReply(std::string(5000, 'n'), "426 Transfer aborted."),
       "426 Transfer aborted."},
      {"local error on the server", withReply(std::string(5000, 'n'), "451 Local error."),
       "451 Local error."},
      {"data connection reset", droppedData(), "426 Connection closed; aborted."},
      {"shorter than listed yet called complete",
       withReply(std::string(3000, 'n'), "226 Transfer complete."), "received 3000 of 5000 bytes"},
      {"control bytes in the reply", withReply(std::string(5000, 'n'), "426 \x1b[2Jgone\a"),
       "426 \\x1B[2Jgone\\x07"},
      {"control connection lost before the final reply", droppedControl(), "connection lost"},
  };
  for (const auto& c : cases) {
    FakeFtpServer server;
    server.setListing("", fileLine("a.txt", 5000) + fileLine("b.txt", 2));
    server.setFile("a.txt", c.transfer);
    server.setFile("b.txt", "bb");
    TempDir dir;
    writeFile(dir.file("a.txt"), "good copy");
    Downloader job = jobFor(server.port(), dir.path());
    auto run = runJob(job);
    EXPECT_EQ(readFile(dir.file("a.txt")), "good copy") << c.name;
    const std::string failed = "Download a.txt failed: ";
    std::size_t at = run.log.find(errorLine(failed + c.reply).substr(0, 21 + failed.size()));
    EXPECT_NE(at, std::string::npos) << c.name << "\n" << run.log;
    EXPECT_NE(run.log.find(errorLine(failed + c.reply)), std::string::npos) << c.name << run.log;
    EXPECT_NE(run.console.find("\n" + failed + c.reply + "\n"), std::string::npos) << c.name;
    std::set<std::string> expectedFiles = {"a.txt"};
    if (!c.transfer.dropControl) {
      // The job goes on with the next file on the same connection.
      EXPECT_EQ(job.savedCount, 1u) << c.name;
      EXPECT_EQ(readFile(dir.file("b.txt")), "bb") << c.name;
      expectedFiles.insert("b.txt");
    } else {
      EXPECT_EQ(job.savedCount, 0u) << c.name;
    }
    EXPECT_EQ(tree(dir.path()), expectedFiles) << c.name;
  }
}

TEST(DownloaderFaultTest, RefusedRetrievalKeepsTheGoodCopy) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.txt", 5));
  server.setReply("RETR", "550 Permission denied.");
  TempDir dir;
  writeFile(dir.file("a.txt"), "good copy");
  Downloader job = jobFor(server.port(), dir.path());
  auto run = runJob(job);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(job.savedCount, 0u);
  EXPECT_EQ(readFile(dir.file("a.txt")), "good copy");
  EXPECT_EQ(tree(dir.path()), std::set<std::string>{"a.txt"});
  EXPECT_EQ(run.console, kConnecting + kConnected + "\n" + kUtf8 +
                             "\n Downloading a.txt 1/1 ...\n"
                             "Download a.txt failed: 550 Permission denied.\n");
}

TEST(DownloaderFaultTest, SuccessReplacesTheOldCopyAndLeavesNoTemporaryFile) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.txt", 5));
  server.setFile("a.txt", "fresh");
  TempDir dir;
  writeFile(dir.file("a.txt"), "old copy");
  Downloader job = jobFor(server.port(), dir.path());
  auto run = runJob(job);
  EXPECT_EQ(job.savedCount, 1u);
  EXPECT_EQ(readFile(dir.file("a.txt")), "fresh");
  EXPECT_EQ(tree(dir.path()), std::set<std::string>{"a.txt"});
}

TEST(DownloaderFaultTest, AFolderAtTheFinalPathFailsAndLeavesNothingBehind) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.txt", 5));
  server.setFile("a.txt", "fresh");
  TempDir dir;
  ASSERT_TRUE(platform::makeFolder(dir.file("a.txt")));
  writeFile(dir.file("a.txt/inside"), "kept");
  Downloader job = jobFor(server.port(), dir.path());
  job.overwrite = false;
  auto run = runJob(job);
  EXPECT_EQ(job.savedCount, 0u);
  EXPECT_NE(run.log.find(errorLine("Download a.txt failed: Is a directory")), std::string::npos);
  EXPECT_EQ(tree(dir.path()), (std::set<std::string>{"a.txt", "a.txt/inside"}));
  // Found before the data is asked for.
  EXPECT_TRUE(server.commandsWithVerb("RETR").empty());
}

TEST(DownloaderFaultTest, ErrorRaisedByAConversionEndsTheJob) {
  FakeFtpServer server;
  server.setReply("OPTS UTF8 ON", "501 Unsupported.");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.systemCodePage = "NO-SUCH-CHARSET";
  job.remote = "pub";
  auto run = runJob(job);
  EXPECT_FALSE(run.result);
  // The reply could not be converted either: it is shown as the server sent it.
  const std::string caught = "Download catch 501 Unsupported., host 127.0.0.1";
  EXPECT_EQ(run.console, kConnecting + kConnected + "\n" + caught + "\n");
  EXPECT_EQ(run.log, infoLine(kConnected) + errorLine(caught));
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_EQ(server.commandsWithVerb("CWD"), Commands{});
}

/// A job whose folder making raises something that is not a std::exception at the second file.
class BrokenFolders : public Downloader {
 public:
  void createFolders(const std::string& localPath) override {
    if (++calls_ == 2) throw 7;
    Downloader::createFolders(localPath);
  }

 private:
  int calls_ = 0;
};

TEST(DownloaderFaultTest, AnyErrorInTheLoopEndsTheJobWithTheLastReply) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.txt", 1) + fileLine("b.txt", 1) + fileLine("c.txt", 1));
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) server.setFile(name, "x");
  TempDir dir;
  BrokenFolders job;
  static_cast<Downloader&>(job) = jobFor(server.port(), dir.path());
  auto run = runJob(job);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(job.savedCount, 1u);
  const std::string caught = "Download catch 226 Transfer complete., host 127.0.0.1";
  EXPECT_EQ(run.log, infoLine(kConnected) + infoLine(kUtf8) +
                         infoLine(" Downloading a.txt 1/3 ...") + errorLine(caught));
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_EQ(server.commandsWithVerb("RETR"), Commands{"RETR a.txt"});
}

}  // namespace
