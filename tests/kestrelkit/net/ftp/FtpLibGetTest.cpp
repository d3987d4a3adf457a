// FtpLib::get moving data through its own buffer: byte-for-byte copies whatever the size and
// however the data arrives, text-mode line ends, local failures, progress reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/PyFtpServer.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/TempDir.h"

namespace kestrelkit::net::ftp {
namespace {

using testing_support::FakeFtpServer;
using testing_support::FakeTransfer;
using testing_support::PyFtpServer;
using testing_support::randomBytes;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
using Lines = std::vector<std::string>;

class FtpLibGetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(connection.connect(server.host(), server.port()));
    ASSERT_TRUE(connection.login("user", "secret"));
  }

  FakeFtpServer server;
  FtpLib connection;
  TempDir folder;
};

TEST_F(FtpLibGetTest, BinaryCopiesAreExactWhereverTheReadsEnd) {
  struct Case {
    const char* name;
    std::size_t size;
    std::vector<std::size_t> pauseAt;
  };
  const std::size_t mib = std::size_t{1} << 20;
  for (const Case& c :
       {Case{"empty", 0, {}}, Case{"one byte", 1, {}}, Case{"a few MiB in one go", 5 * mib + 3, {}},
        Case{"reads ending at and around the buffer size",
             3 * mib + 17,
             {1, mib - 1, mib, mib + 1, 2 * mib}}}) {
    SCOPED_TRACE(c.name);
    FakeTransfer transfer;
    transfer.data = randomBytes(c.size, static_cast<unsigned>(c.size));
    transfer.pauseAt = c.pauseAt;
    transfer.pause = std::chrono::milliseconds(20);
    server.setFile("pub/data.bin", transfer);
    const std::size_t before = server.commands().size();
    const std::string local = folder.file("data.bin");
    ASSERT_TRUE(connection.get(local, "pub/data.bin", 'I'));
    EXPECT_TRUE(readFile(local) == transfer.data) << "copy differs";
    // The server stays in binary mode from the first file on, and the next passive request
    // goes out as soon as the data has ended.
    const Lines expected = before == 3 ? Lines{"TYPE I", "PASV", "RETR pub/data.bin", "PASV"}
                                       : Lines{"RETR pub/data.bin", "PASV"};
    ASSERT_TRUE(server.waitForCommands(before + expected.size()));
    const Lines all = server.commands();
    EXPECT_EQ(Lines(all.begin() + before, all.end()), expected);
    EXPECT_EQ(connection.lastResponse(), "226 Transfer complete.\n");
  }
}

// Active mode keeps ftplib's own way to the data: TYPE, PORT and RETR one after the other.
TEST_F(FtpLibGetTest, ActiveModeCopiesAreExactToo) {
  FakeTransfer transfer;
  transfer.data = randomBytes((std::size_t{2} << 20) + 1, 5);
  server.setFile("a.bin", transfer);
  ASSERT_TRUE(connection.setActiveMode());
  const std::size_t before = server.commands().size();
  ASSERT_TRUE(connection.get(folder.file("a.bin"), "a.bin", 'I'));
  EXPECT_TRUE(readFile(folder.file("a.bin")) == transfer.data) << "copy differs";
  const Lines all = server.commands();
  ASSERT_EQ(all.size() - before, 3u);
  EXPECT_EQ(all[before], "TYPE I");
  EXPECT_EQ(all[before + 1].rfind("PORT 127,0,0,1,", 0), 0u);
  EXPECT_EQ(all[before + 2], "RETR a.bin");
}

TEST_F(FtpLibGetTest, TextModeTurnsCrLfIntoLfAndNothingElse) {
  const std::string longLine(100 * 1024, 'x');
  struct Case {
    const char* name;
    std::string sent;
    std::vector<std::size_t> pauseAt;
    std::string expected;
  };
  const Case cases[] = {
      {"plain lines", "a\r\nb\r\n", {}, "a\nb\n"},
      {"last line without a line end", "a\r\nb", {}, "a\nb"},
      {"lone CR and lone LF stay", "a\rb\nc", {}, "a\rb\nc"},
      {"CR before CR LF", "a\r\r\nb", {}, "a\r\nb"},
      {"CR LF split between reads", "ab\r\ncd\r\n", {3}, "ab\ncd\n"},
      {"CR at the end of a read, no LF after it", "ab\rcd", {3}, "ab\rcd"},
      {"CR ends the data", "ab\r", {}, "ab\r"},
      {"CR ends the data after a pause", "ab\r", {3}, "ab\r"},
      {"a line far longer than any buffer",
       longLine + "\r\n" + longLine + "\r\nend",
       {10, 70000, longLine.size(), longLine.size() + 1},
       longLine + "\n" + longLine + "\nend"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTransfer transfer;
    transfer.data = c.sent;
    transfer.pauseAt = c.pauseAt;
    transfer.pause = std::chrono::milliseconds(20);
    server.setFile("notes.txt", transfer);
    const std::string local = folder.file("notes.txt");
    ASSERT_TRUE(connection.get(local, "notes.txt", 'A'));
    EXPECT_TRUE(readFile(local) == c.expected) << "converted text differs";
  }
  EXPECT_EQ(server.commandsWithVerb("TYPE"), Lines{"TYPE A"});
}

TEST_F(FtpLibGetTest, LocalFailuresGiveTheSystemsMessage) {
  server.setFile("f", "data");
  EXPECT_FALSE(connection.get(folder.file("missing/folder/f"), "f", 'I'));
  EXPECT_EQ(connection.lastResponse(), "No such file or directory");
  EXPECT_TRUE(server.commandsWithVerb("RETR").empty()) << "nothing is asked for in vain";

  // A device that takes no data: the transfer starts, the write fails, the reason is local.
  EXPECT_FALSE(connection.get("/dev/full", "f", 'I'));
  EXPECT_EQ(connection.lastResponse(), "No space left on device");
  // The connection is still in step for the next file.
  ASSERT_TRUE(connection.get(folder.file("f"), "f", 'I'));
  EXPECT_EQ(readFile(folder.file("f")), "data");
}

TEST_F(FtpLibGetTest, RefusedRetrievalLeavesNoFile) {
  const std::string local = folder.file("absent.bin");
  EXPECT_FALSE(connection.get(local, "absent.bin", 'I'));
  EXPECT_EQ(connection.lastResponse(), "550 No such file or directory.\n");
  EXPECT_EQ(readFile(local), "");
  EXPECT_EQ(::access(local.c_str(), F_OK), -1);
}

// Whatever is refused on the way to the data, the failure and the last response are the
// refusal's, and the replies stay in step for the next command. A completion where the
// transfer should start leaves no way to know what follows: the connection ends.
TEST_F(FtpLibGetTest, RefusalsOnTheWayToTheDataKeepTheRepliesInStep) {
  struct Case {
    const char* command;
    const char* reply;
    std::string lastResponse;
    bool inStep = true;
    /// A listing first: the passive request then goes ahead, and "TYPE I" out together with
    /// the transfer's command.
    bool afterListing = false;
  };
  const Case cases[] = {
      {"TYPE", "504 Type not supported.", "504 Type not supported.\n"},
      {"PASV", "425 Cannot open a passive listener.", "425 Cannot open a passive listener.\n"},
      {"PASV", "227 Entering Passive Mode.", "227 Entering Passive Mode.\n"},
      {"PASV", "227 Entering Passive Mode (127,0,0,1,300,1).",
       "227 Entering Passive Mode (127,0,0,1,300,1).\n"},
      {"PASV", "227-Two lines\n227 Entering Passive Mode (1,2,3).",
       "227 Two lines Entering Passive Mode (1,2,3).\n"},
      // A multi-line refusal gives its reason first, and a closing word last.
      {"TYPE", "504-Type I is not offered to this account.\n504 End.",
       "504 Type I is not offered to this account. End.\n"},
      {"RETR f", "226 Nothing to send.", "226 Nothing to send.\n", false},
      {"TYPE I", "504 Type not supported.", "504 Type not supported.\n", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    FakeFtpServer server;
    server.setFile("f", "data");
    server.setReply(c.command, c.reply);
    server.setListing("", "total 0\r\n");
    FtpLib connection;
    ASSERT_TRUE(connection.connect(server.host(), server.port()));
    ASSERT_TRUE(connection.login("user", "secret"));
    std::vector<FtpFileInfo> records;
    if (c.afterListing) {
      ASSERT_TRUE(connection.list("", records));
    }
    const std::string local = folder.file("f");
    EXPECT_FALSE(connection.get(local, "f", 'I'));
    EXPECT_EQ(connection.lastResponse(), c.lastResponse);
    EXPECT_EQ(::access(local.c_str(), F_OK), -1) << "nothing was received";
    EXPECT_EQ(connection.sendCommand("NOOP", '2'), c.inStep);
    EXPECT_EQ(connection.connected(), c.inStep);
    // A file the caller made for a retrieval stays its own, however the retrieval ends.
    std::uint64_t offset = 0;
    ASSERT_TRUE(connection.connect(server.host(), server.port()));
    ASSERT_TRUE(connection.login("user", "secret"));
    EXPECT_FALSE(connection.getFrom(local, "f", 'I', offset));
    EXPECT_EQ(::access(local.c_str(), F_OK), 0);
    ::unlink(local.c_str());
  }
}

TEST_F(FtpLibGetTest, ObserverHearsTheGrowingCount) {
  FakeTransfer transfer;
  transfer.data = randomBytes(300000, 3);
  transfer.pauseAt = {100000, 200000};
  transfer.pause = std::chrono::milliseconds(20);
  server.setFile("f", transfer);
  std::vector<std::uint64_t> counts;
  connection.setTransferObserver([&](std::uint64_t received) { counts.push_back(received); });
  ASSERT_TRUE(connection.get(folder.file("f"), "f", 'I'));
  ASSERT_GE(counts.size(), 3u);
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
  EXPECT_EQ(counts.back(), 300000u);

  // A refused restart point brings the file from its start: the count starts again from 0.
  writeFile(folder.file("g"), std::string(100000, 'x'));
  server.setReplyOnce("REST", "502 No restarts here");
  counts.clear();
  std::uint64_t offset = 100000;
  ASSERT_TRUE(connection.getFrom(folder.file("g"), "f", 'I', offset));
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(counts.back(), 300000u);

  connection.setTransferObserver(nullptr);
  counts.clear();
  ASSERT_TRUE(connection.get(folder.file("f"), "f", 'I'));
  EXPECT_TRUE(counts.empty());
}

// pyftpdlib sends text-mode files with CR LF line ends, whatever they have on disk.
TEST(FtpLibGetPyFtpTest, RealServerBinaryAndTextCopies) {
  TempDir root;
  const std::string binary = randomBytes((std::size_t{4} << 20) + 5, 11);
  const std::string longLine(70 * 1024, 'y');
  writeFile(root.file("big.bin"), binary);
  writeFile(root.file("text.txt"), "one\n" + longLine + "\nthree\n");
  PyFtpServer server(root.path());
  FtpLib connection;
  ASSERT_TRUE(connection.connect("127.0.0.1", server.port()));
  ASSERT_TRUE(connection.login("user", "secret"));
  TempDir local;
  ASSERT_TRUE(connection.get(local.file("big.bin"), "big.bin", 'I'));
  EXPECT_TRUE(readFile(local.file("big.bin")) == binary) << "binary copy differs";
  ASSERT_TRUE(connection.get(local.file("text.txt"), "text.txt", 'A'));
  EXPECT_EQ(readFile(local.file("text.txt")), "one\n" + longLine + "\nthree\n");
}

}  // namespace
}  // namespace kestrelkit::net::ftp
