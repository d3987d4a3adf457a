// The scripted server's own behaviour for tests of reconnects, retries and resumed transfers.
#include <gtest/gtest.h>

#include <tuple>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/TempDir.h"

namespace testing_support {
namespace {

using kestrelkit::net::ftp::FtpLib;
using Got = std::pair<bool, std::string>;  // whether RETR succeeded, what reached the file

class FakeFtpServerTest : public ::testing::Test {
 protected:
  // A fresh session, as a client that reconnects makes one.
  bool logIn(FtpLib& client) {
    client.close();
    client.setTimeout(std::chrono::seconds(5));
    return client.connect(server.host(), server.port()) && client.login("user", "pw");
  }
  Got retrieve(const std::string& path) {
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
  server.setFile("a", file);
  server.setListing("", "");
  ASSERT_TRUE(logIn(connection));
  // Command lines ("LIST": a whole listing), the start of the last reply, the data retrieved.
  const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
      {{"REST 3"}, "350 Restarting at 3. Send STORE or RETRIEVE.", "34567"},
      {{"REST 3", "LIST"}, "226", "01234567"},
      {{"REST 3", "REST 3x"}, "501 Bad restart point.", "01234567"},
      {{"REST 18446744073709551616"}, "501", "01234567"},
      {{"REST 18446744073709551615"}, "350", ""},
      {{}, "", "01234567"},  // the retrieval before used the point up
  };
  for (const auto& [commands, reply, data] : cases) {
    SCOPED_TRACE(commands.empty() ? "" : commands.back());
    for (const std::string& command : commands) {
      std::vector<kestrelkit::net::ftp::FtpFileInfo> records;
      command == "LIST" ? connection.list("", records) : connection.sendCommand(command, '3');
    }
    EXPECT_EQ(connection.lastResponse().rfind(reply, 0), 0u) << connection.lastResponse();
    EXPECT_EQ(retrieve("a"), Got(true, data));
  }
  server.setReply("REST", "502 Command not implemented.");  // and no restart point
  EXPECT_FALSE(connection.sendCommand("REST 3", '3'));
  EXPECT_EQ(retrieve("a"), Got(true, "01234567"));
}

TEST_F(FakeFtpServerTest, RefusedAndDroppedSessionsThenTriesInOrderOverAllSessions) {
  std::vector<FakeTransfer> tries(3);
  tries[0].dropControlAtStart = true;
  tries[1].data = "cut";
  tries[1].finalReply = "451 Aborted.";
  tries[2].data = "whole";
  server.setFileTries("f", tries);
  server.refuseSessions(2);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_FALSE(logIn(connection));
    EXPECT_EQ(connection.lastOutcome().reason,
              "421 Service not available, closing control connection.");
  }
  ASSERT_TRUE(logIn(connection));
  // No reply, not even the preliminary one: the connection is simply gone.
  EXPECT_FALSE(connection.sendCommand("RETR f", '1'));
  EXPECT_EQ(connection.lastOutcome().kind, platform::OutcomeKind::connectionLost);
  ASSERT_TRUE(logIn(connection));
  EXPECT_EQ(retrieve("f"), Got(false, "cut"));
  EXPECT_EQ(retrieve("f"), Got(true, "whole"));
  // Refusals after sessions served first: one connection more than the open one is allowed.
  server.refuseSessions(1, "421 Too many connections.", 1);
  FtpLib second;
  ASSERT_TRUE(logIn(second));
  EXPECT_FALSE(logIn(connection));
  EXPECT_EQ(connection.lastOutcome().reason, "421 Too many connections.");
  ASSERT_TRUE(logIn(connection));
  EXPECT_EQ(retrieve("f"), Got(true, "whole"));
  EXPECT_EQ(server.commandCount("RETR f"), 4u);
  EXPECT_EQ(server.connectionsAccepted(), 7);
}

}  // namespace
}  // namespace testing_support
