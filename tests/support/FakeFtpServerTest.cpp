// The scripted server's own behaviour for tests of reconnects, retries and resumed transfers:
// restart points, per-try scripts, control connections lost at a transfer, refused sessions.
#include <gtest/gtest.h>

#include <utility>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/TempDir.h"

namespace testing_support {
namespace {

using kestrelkit::net::ftp::FtpLib;

class FakeFtpServerTest : public ::testing::Test {
 protected:
  void SetUp() override { connection.setTimeout(std::chrono::seconds(5)); }

  // A fresh session, as a client that reconnects makes one.
  bool logIn() {
    connection.close();
    return connection.connect(server.host(), server.port()) && connection.login("user", "pw");
  }
  // Whether RETR of `path` succeeded, and what reached the local file.
  std::pair<bool, std::string> retrieve(const std::string& path) {
    const bool done = connection.get(folder.file("copy"), path, 'I');
    return {done, readFile(folder.file("copy"))};
  }

  FakeFtpServer server;
  FtpLib connection;
  TempDir folder;
};

TEST_F(FakeFtpServerTest, RestartPointServesTheTailOfTheNextRetrievalOnly) {
  FakeTransfer file;
  file.data = "0123456789";
  file.dropAfter = 8;  // an offset into the whole file, whatever the restart point
  server.setFile("a.bin", file);
  server.setListing("", "");
  struct Case {
    const char* name;
    std::vector<std::string> commands;  // "LIST" goes as a whole listing
    std::string reply;
    std::string data;
  };
  const Case cases[] = {
      {"tail up to the drop", {"REST 3"}, "350 Restarting at 3. Send STORE or RETRIEVE.", "34567"},
      {"the last point counts", {"REST 6", "REST 2"}, "350 Restarting at 2.", "234567"},
      {"a listing uses it up", {"REST 3", "LIST"}, "226 Transfer complete.", "01234567"},
      {"a bad point clears it", {"REST 3", "REST 3x"}, "501 Bad restart point.", "01234567"},
      {"more than 64 bits", {"REST 18446744073709551616"}, "501 Bad restart point.", "01234567"},
      {"past the drop",
       {"REST 18446744073709551615"},
       "350 Restarting at 18446744073709551615.",
       ""},
      {"a retrieval uses it up", {}, "", "01234567"},
  };
  ASSERT_TRUE(logIn());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& command : c.commands) {
      std::vector<kestrelkit::net::ftp::FtpFileInfo> records;
      if (command == "LIST") {
        connection.list("", records);
      } else {
        connection.sendCommand(command, '3');
      }
    }
    EXPECT_EQ(connection.lastResponse().rfind(c.reply, 0), 0u) << connection.lastResponse();
    EXPECT_EQ(retrieve("a.bin"), std::make_pair(true, c.data));
  }
  server.setReply("REST", "502 Command not implemented.");
  EXPECT_FALSE(connection.sendCommand("REST 3", '3'));
  EXPECT_EQ(retrieve("a.bin"), std::make_pair(true, std::string("01234567")));
}

TEST_F(FakeFtpServerTest, TriesGoInOrderOverAllSessionsThenTheLastRepeats) {
  std::vector<FakeTransfer> tries(3);
  tries[0].dropControlAtStart = true;
  tries[1].data = "cut";
  tries[1].finalReply = "451 Aborted.";
  tries[2].data = "whole";
  server.setFileTries("f", tries);
  ASSERT_TRUE(logIn());
  // No reply at all, not even the preliminary one, then the connection is gone.
  EXPECT_FALSE(connection.sendCommand("RETR f", '1'));
  EXPECT_EQ(connection.lastOutcome().kind, platform::OutcomeKind::connectionLost);
  EXPECT_TRUE(server.waitForClosedConnections(1));
  ASSERT_TRUE(logIn());
  EXPECT_EQ(retrieve("f"), std::make_pair(false, std::string("cut")));
  EXPECT_EQ(retrieve("f"), std::make_pair(true, std::string("whole")));
  ASSERT_TRUE(logIn());
  EXPECT_EQ(retrieve("f"), std::make_pair(true, std::string("whole")));
  EXPECT_EQ(server.commandCount("RETR f"), 4u);
}

TEST_F(FakeFtpServerTest, RefusedSessionsHearTheGreetingAndNothingElse) {
  server.refuseSessions(2);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_FALSE(logIn());
    EXPECT_EQ(connection.lastOutcome().reason,
              "421 Service not available, closing control connection.");
  }
  EXPECT_TRUE(server.waitForClosedConnections(2));
  EXPECT_TRUE(logIn());
  EXPECT_EQ(server.connectionsAccepted(), 3);
  // A server that allows one more connection than the open one.
  server.refuseSessions(1, "421 Too many connections.", 1);
  FtpLib second;
  FtpLib third;
  second.setTimeout(std::chrono::seconds(5));
  third.setTimeout(std::chrono::seconds(5));
  EXPECT_TRUE(second.connect(server.host(), server.port()));
  EXPECT_FALSE(third.connect(server.host(), server.port()));
  EXPECT_EQ(third.lastOutcome().reason, "421 Too many connections.");
  EXPECT_TRUE(logIn());
}

}  // namespace
}  // namespace testing_support
