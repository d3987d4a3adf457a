// Every way a server can leave the client waiting ends within a small multiple of the time
// limit, with the operation failed and the reason told.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/TempDir.h"

namespace {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpLib;
using platform::OutcomeKind;
using testing_support::FakeFtpServer;
using testing_support::FakeTransfer;
using testing_support::TempDir;

constexpr auto kLimit = std::chrono::milliseconds(300);

FakeTransfer silentData() {
  FakeTransfer transfer;
  transfer.data = "never sent";
  transfer.pauseAt = {0};
  transfer.pause = std::chrono::seconds(5);
  return transfer;
}

FakeTransfer noFinalReply() {
  FakeTransfer transfer;
  transfer.data = "data";
  transfer.finalReply = "";
  return transfer;
}

FakeTransfer neverConnects() {
  FakeTransfer transfer;
  transfer.noDataConnection = true;
  transfer.holdControl = std::chrono::seconds(5);
  return transfer;
}

struct Hang {
  const char* name;
  std::function<void(FakeFtpServer&)> script;
  bool active;
  const char* operation;  // "connect", "login", "get" or "list"
  OutcomeKind kind;
  std::string reason;
};

TEST(FtpLibTimeout, NoWaitOutlastsTheLimit) {
  const std::vector<Hang> hangs = {
      {"no greeting", [](FakeFtpServer& s) { s.setSilent("greeting"); }, false, "connect",
       OutcomeKind::timedOut, "no reply for 0.3 s"},
      {"\"120\" for ever",
       [](FakeFtpServer& s) { s.setGreetingRepeated("120 Wait.", std::chrono::milliseconds(50)); },
       false, "connect", OutcomeKind::timedOut, "no reply for 0.3 s"},
      {"no answer to the login", [](FakeFtpServer& s) { s.setSilent("PASS"); }, false, "login",
       OutcomeKind::timedOut, "no reply for 0.3 s"},
      {"no answer to PASV", [](FakeFtpServer& s) { s.setSilent("PASV"); }, false, "get",
       OutcomeKind::timedOut, "no reply for 0.3 s"},
      {"no answer to LIST", [](FakeFtpServer& s) { s.setSilent("LIST"); }, false, "list",
       OutcomeKind::timedOut, "no reply for 0.3 s"},
      {"a silent data connection", [](FakeFtpServer& s) { s.setFile("f", silentData()); }, false,
       "get", OutcomeKind::timedOut, "no data for 0.3 s"},
      {"a silent listing", [](FakeFtpServer& s) { s.setListing("", silentData()); }, false,
       "list", OutcomeKind::timedOut, "no data for 0.3 s"},
      // The answer to the next passive request, sent ahead, comes where the final reply belongs.
      {"no final reply", [](FakeFtpServer& s) { s.setFile("f", noFinalReply()); }, false, "get",
       OutcomeKind::connectionLost, "no final reply to the transfer"},
      {"no final reply, active mode", [](FakeFtpServer& s) { s.setFile("f", noFinalReply()); },
       true, "get", OutcomeKind::timedOut, "no reply for 0.3 s"},
      {"226 to RETR without 150", [](FakeFtpServer& s) { s.setReply("RETR", "226 Done."); },
       false, "get", OutcomeKind::refused, "226 Done."},
      {"250 to LIST without 150", [](FakeFtpServer& s) { s.setReply("LIST", "250 Ok."); }, false,
       "list", OutcomeKind::refused, "250 Ok."},
      {"350 to RETR", [](FakeFtpServer& s) { s.setReply("RETR", "350 More."); }, false, "get",
       OutcomeKind::refused, "350 More."},
      {"active mode, the server never connects",
       [](FakeFtpServer& s) { s.setFile("f", neverConnects()); }, true, "get",
       OutcomeKind::timedOut, "timed out waiting for connection"},
  };
  TempDir folder;
  // Each hang again without a time limit of its own: the connection's end stops it as well.
  for (const bool byEnd : {false, true}) {
    for (const Hang& hang : hangs) {
      SCOPED_TRACE(std::string(hang.name) + (byEnd ? ", stopped by the end" : ""));
      FakeFtpServer server;
      hang.script(server);
      FtpLib connection;
      connection.setTimeout(byEnd ? std::chrono::milliseconds(0) : kLimit);
      if (byEnd) connection.setStopAt(platform::Deadline::after(kLimit));
      const std::string op = hang.operation;
      const auto start = std::chrono::steady_clock::now();
      bool done = connection.connect(server.host(), server.port());
      if (done && op != "connect") {
        if (hang.active) connection.setActiveMode();
        done = connection.login("user", "secret");
        std::vector<FtpFileInfo> records;
        if (done && op == "get") done = connection.get(folder.file("f"), "f", 'I');
        if (done && op == "list") done = connection.list("", records);
      }
      const auto took = std::chrono::steady_clock::now() - start;
      EXPECT_FALSE(done);
      EXPECT_LT(took, 4 * kLimit);
      const platform::Outcome outcome = connection.lastOutcome();
      EXPECT_EQ(outcome.kind, hang.kind);
      const bool ended = byEnd && hang.kind == OutcomeKind::timedOut;
      EXPECT_EQ(outcome.reason, ended ? platform::kDeadlineReached : hang.reason);
      // A session out of step is not used again.
      EXPECT_FALSE(connection.connected() && outcome.kind == OutcomeKind::timedOut);
    }
  }
}

}  // namespace
