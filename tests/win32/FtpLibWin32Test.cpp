// FtpLib over Winsock, against the tests' scripted server on 127.0.0.1: data connections in both
// modes, a fetched file at a Windows path unchanged, and a wait that the time limit ends.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/TempDir.h"

namespace {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpFileType;
using kestrelkit::net::ftp::FtpLib;
using testing_support::FakeFtpServer;
using testing_support::FakeTransfer;

const std::string kFileContent =
    std::string("binary\r\n\x00\x1A\xFF tail", 17) + std::string(200000, 'q');

TEST(FtpLibWin32, LogsInListsAndFetchesInBothModes) {
  FakeFtpServer server;
  server.setListing("", "drwxr-xr-x 2 o g 0 Jan 01 2024 sub\r\n"
                        "-rw-r--r-- 1 o g 200017 Jan 01 2024 caf\xC3\xA9.bin\r\n");
  server.setFile("caf\xC3\xA9.bin", kFileContent);
  testing_support::TempDir dir;
  for (bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    FtpLib ftp;
    ASSERT_TRUE(ftp.connect(server.host(), server.port())) << ftp.lastOutcome().reason;
    passive ? ftp.setPassiveMode() : ftp.setActiveMode();
    ASSERT_TRUE(ftp.login("user", "secret")) << ftp.lastOutcome().reason;
    ASSERT_TRUE(ftp.utf8On());
    std::vector<FtpFileInfo> entries;
    ASSERT_TRUE(ftp.list("", entries)) << ftp.lastOutcome().reason;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type, FtpFileType::folder);
    EXPECT_EQ(entries[1].name, "caf\xC3\xA9.bin");
    const std::string target = dir.file(passive ? "passive.bin" : "active.bin");
    ASSERT_TRUE(ftp.get(target, "caf\xC3\xA9.bin", 'I')) << ftp.lastOutcome().reason;
    EXPECT_EQ(testing_support::readFile(target), kFileContent);
  }
}

TEST(FtpLibWin32, ASilentDataConnectionEndsAtTheLimit) {
  FakeFtpServer server;
  FakeTransfer silent;
  silent.data = "never";
  silent.pauseAt = {0};
  silent.pause = std::chrono::seconds(5);
  server.setFile("f", silent);
  FtpLib ftp;
  ftp.setTimeout(std::chrono::milliseconds(300));
  ASSERT_TRUE(ftp.connect(server.host(), server.port()));
  ASSERT_TRUE(ftp.login("user", "secret"));
  testing_support::TempDir dir;
  EXPECT_FALSE(ftp.get(dir.file("f"), "f", 'I'));
  EXPECT_EQ(ftp.lastOutcome().reason, "no data for 0.3 s");
}

TEST(FtpLibWin32, RefusedConnectionLeavesNoReply) {
  int port = 0;
  {
    FakeFtpServer gone;
    port = gone.port();
  }
  FtpLib ftp;
  EXPECT_FALSE(ftp.connect("127.0.0.1", port));
  EXPECT_EQ(ftp.lastResponse(), "");
  EXPECT_EQ(ftp.lastOutcome().kind, platform::OutcomeKind::connectionLost);
  EXPECT_FALSE(ftp.utf8On());
}

}  // namespace
