// The download job end to end against a real FTP server (pyftpdlib) on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/time.h>


#include "marlowick/Downloader.h"
#include "tests/marlowick/DownloaderJobSupport.h"
#include "tests/support/PyFtpServer.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/TempDir.h"

namespace {

using marlowick::Downloader;
using marlowick_test::infoLine;
using marlowick_test::jobFor;
using marlowick_test::runJob;
using testing_support::PyFtpServer;
using testing_support::randomBytes;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

const std::string kCafe = "caf\xC3\xA9.txt";
const std::vector<std::string> kServed = {"a.txt", kCafe, "sub/b.bin", "sub/deeper/c.txt"};

void setModified(const std::string& path, long unixSeconds) {
  timeval times[2] = {{unixSeconds, 0}, {unixSeconds, 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0) << path;
}

/// A served tree: a.txt, café.txt, sub/b.bin, sub/deeper/c.txt, all last changed 2020-05-17.
class DownloaderServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(root_.file("a.txt"), "alpha\r\nbeta\n");
    writeFile(root_.file(kCafe), "cr\xC3\xA8me");
    writeFile(root_.file("sub/b.bin"), randomBytes(70000));
    writeFile(root_.file("sub/deeper/c.txt"), "deep");
    for (const auto& name : kServed) setModified(root_.file(name), 1589716800);  // 12:00 UTC
    server_ = std::make_unique<PyFtpServer>(root_.path());
  }
  void TearDown() override { server_->stop(); }

  Downloader job() { return jobFor(server_->port(), local_.path()); }

  TempDir root_;
  TempDir local_;
  std::unique_ptr<PyFtpServer> server_;
};

TEST_F(DownloaderServerTest, FetchesTheTreeThenSkipsSameSizeFiles) {
  Downloader first = job();
  first.recurse = true;
  auto run = runJob(first);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(first.encoding, 0u);  // this server refuses "OPTS UTF8 ON"
  EXPECT_EQ(first.savedCount, 4u);
  for (const auto& name : kServed) {
    EXPECT_EQ(readFile(local_.file(name)), readFile(root_.file(name))) << name;
    EXPECT_NE(run.log.find("T Info   Marlowick -  Downloading " + name + " "), std::string::npos)
        << name;
  }
  EXPECT_EQ(run.log.find("Error"), std::string::npos) << run.log;

  Downloader second = job();
  second.recurse = true;
  second.overwrite = false;
  run = runJob(second);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(second.savedCount, 0u);
  for (const auto& name : kServed) {
    EXPECT_NE(run.log.find(infoLine(" Same size, skiped: " + name)), std::string::npos) << name;
  }
}

TEST_F(DownloaderServerTest, ListModeFromASubfolderInActiveMode) {
  Downloader listing = job();
  listing.remote = "sub";
  listing.recurse = true;
  listing.justPrint = true;
  listing.passive = false;
  auto run = runJob(listing);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(listing.savedCount, 0u);
  EXPECT_NE(run.console.find(" working directory changed to sub\n"), std::string::npos);
  EXPECT_NE(run.console.find(" Files       : 2\n"), std::string::npos);
  // pyftpdlib offers MLSD, whose times are exact (LIST gives an old file's day only).
  EXPECT_NE(run.log.find(infoLine(" found b.bin, last modified: 2020-05-17T12:00:00")),
            std::string::npos)
      << run.log;
  EXPECT_NE(run.log.find(infoLine(" found deeper/c.txt, last modified: 2020-05-17T12:00:00")),
            std::string::npos);
  EXPECT_EQ(readFile(local_.file("b.bin")), "");
}

TEST_F(DownloaderServerTest, WrongPasswordAndMissingFolder) {
  Downloader wrong = job();
  wrong.password = "wrong";
  auto run = runJob(wrong);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.log.rfind("T Error  Marlowick - Login failure 530 ", 0), 0u) << run.log;

  Downloader missing = job();
  missing.remote = "nothere";
  run = runJob(missing);
  EXPECT_FALSE(run.result);
  EXPECT_NE(run.log.find("T Error  Marlowick - working directory changed to nothere failure, 550 "),
            std::string::npos)
      << run.log;
}

}  // namespace
