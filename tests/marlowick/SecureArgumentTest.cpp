// FTP over TLS from the command line: the secure, verify and cafile arguments, their rows of
// the settings table and lines of the help text, and a server that will not speak TLS.
#include <gtest/gtest.h>

#include "marlowick/Config.h"
#include "marlowick/Downloader.h"
#include "marlowick/SettingsSummary.h"
#include "tests/marlowick/ApplyArgumentsSupport.h"
#include "tests/marlowick/DownloaderJobSupport.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/TempDir.h"

namespace {

using kestrelkit::net::ftp::FtpSecurity;
using marlowick::Downloader;
using marlowick_test::Applied;
using marlowick_test::apply;
using Tokens = std::vector<std::string>;

constexpr auto kNone = FtpSecurity::none;
constexpr auto kExplicit = FtpSecurity::explicitTls;
constexpr auto kImplicit = FtpSecurity::implicitTls;

TEST(SecureArgument, ValuesTable) {
  struct Case {
    Tokens tokens;
    bool accepted;
    FtpSecurity secure;  // the job's values afterwards
    bool verify;
    int port;
    const char* console;  // what was reported
  };
  const Case cases[] = {
      {{}, true, kNone, true, 21, ""},
      {{"--secure=true"}, true, kExplicit, true, 21, ""},
      {{"--secure=TRUE"}, true, kExplicit, true, 21, ""},
      {{"--secure=False"}, true, kNone, true, 21, ""},
      {{"--secure=implicit"}, true, kImplicit, true, 990, ""},
      {{"--secure=Implicit"}, true, kImplicit, true, 990, ""},
      // A port given wins over the implicit one, whatever the order and even when it is 21.
      {{"--secure=implicit", "--port=2121"}, true, kImplicit, true, 2121, ""},
      {{"--port=21", "--secure=implicit"}, true, kImplicit, true, 21, ""},
      // A port named without a value gives none.
      {{"--secure=implicit", "--port="}, true, kImplicit, true, 990, ""},
      // The last value wins; the implicit port goes with the implicit value only.
      {{"--secure=true", "--secure=implicit"}, true, kImplicit, true, 990, ""},
      {{"--secure=implicit", "--secure=false"}, true, kNone, true, 21, ""},
      // Named without a value: nothing to apply.
      {{"--secure="}, true, kNone, true, 21, ""},
      {{"--secure=yes"}, false, kNone, true, 21,
       "Invalid secure value: yes\nValid value is true, false or implicit\n"},
      {{"--secure=explicit"}, false, kNone, true, 21,
       "Invalid secure value: explicit\nValid value is true, false or implicit\n"},
      {{"--secure=1"}, false, kNone, true, 21,
       "Invalid secure value: 1\nValid value is true, false or implicit\n"},
      {{"--secure=true "}, false, kNone, true, 21,
       "Invalid secure value: true \nValid value is true, false or implicit\n"},
      {{"--verify=false"}, true, kNone, false, 21, ""},
      {{"--verify=FALSE", "--secure=true"}, true, kExplicit, false, 21, ""},
      {{"--verify=false", "--verify=true"}, true, kNone, true, 21, ""},
      {{"--verify=no"}, false, kNone, true, 21,
       "Invalid verify value: no\nValid value is true or false\n"},
      // Checked in order: time limit, secure, verify; the first invalid one is the only report.
      {{"--secure=on", "--verify=no"}, false, kNone, true, 21,
       "Invalid secure value: on\nValid value is true, false or implicit\n"},
      {{"--timeout=-1", "--secure=on"}, false, kNone, true, 21, "Invalid timeout value: -1\n"},
      {{"--secure=true", "--verify=0"}, false, kExplicit, true, 21,
       "Invalid verify value: 0\nValid value is true or false\n"},
      // An invalid port ends the checks before the implicit port could be set.
      {{"--secure=implicit", "--port=70000"}, false, kNone, true, 21,
       "Invalid port number: 70000\n"},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& token : c.tokens) trace += token + " ";
    SCOPED_TRACE(trace);
    Applied r = apply(c.tokens);
    EXPECT_EQ(r.accepted, c.accepted);
    EXPECT_EQ(r.job.secure, c.secure);
    EXPECT_EQ(r.job.verify, c.verify);
    EXPECT_EQ(r.job.port, c.port);
    EXPECT_EQ(r.console, c.console);
  }
  EXPECT_EQ(apply({"--cafile=/etc/a.pem", "--cafile=/x/b c.pem"}).job.cafile, "/x/b c.pem");
}

TEST(SecureArgument, SettingsRowsOnlyWhenNotTheDefault) {
  struct Case {
    FtpSecurity secure;
    bool verify;
    const char* cafile;
    const char* rows;  // between the maxfolders row and the end of the table
  };
  const Case cases[] = {
      {kNone, true, "", ""},
      {kExplicit, true, "", " secure      : true\n"},
      {kImplicit, true, "", " secure      : implicit\n"},
      {kExplicit, false, "/etc/ca.pem",
       " secure      : true\n verify      : false\n cafile      : /etc/ca.pem\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows);
    Downloader job;
    job.host = "h";
    job.maxfolders = 3;
    job.secure = c.secure;
    job.verify = c.verify;
    job.cafile = c.cafile;
    const std::string table = marlowick::settingsTable(job);
    const std::string tail = std::string(" maxfolders  : 3\n") + c.rows + "\n";
    ASSERT_GE(table.size(), tail.size());
    EXPECT_EQ(table.substr(table.size() - tail.size()), tail);
  }
}

TEST(SecureArgument, ListedInTheHelpTextAfterTheTimeLimit) {
  const std::string help = marlowick::config().helpText();
  std::size_t at = help.find("--timeout=");
  for (const char* text : {"\n  --secure=false|true|implicit", "AUTH TLS", "port 990 unless --port",
                           "\n  --verify=true|false", "\n  --cafile=FILE"}) {
    const std::size_t found = help.find(text, at);
    EXPECT_NE(found, std::string::npos) << text;
    at = found == std::string::npos ? at : found;
  }
}

// A server that will not speak TLS: the job ends with one Error line, and neither the account
// nor the password has been sent.
TEST(SecureArgument, ServerWithoutTlsGetsNoAccountNorPassword) {
  struct Case {
    FtpSecurity secure;
    const char* authReply;  // "" for the fake's default
    const char* error;
  };
  const Case cases[] = {
      {kExplicit, "500 AUTH not understood.",
       "Unable to connect to 127.0.0.1 TLS refused: 500 AUTH not understood."},
      {kExplicit, "534 Policy requires plain text.",
       "Unable to connect to 127.0.0.1 TLS refused: 534 Policy requires plain text."},
      // Says yes, then goes on in clear.
      {kExplicit, "234 Proceed.",
       "Unable to connect to 127.0.0.1 TLS handshake failed: wrong version number"},
      // Says yes, with a forged reply behind it in clear, which must never count as TLS's.
      {kExplicit, "234 Proceed.\n230 Logged in.",
       "Unable to connect to 127.0.0.1 TLS refused: data in clear after the 234 reply"},
      // The greeting arrives in clear where the handshake should be.
      {kImplicit, "", "Unable to connect to 127.0.0.1 TLS handshake failed: wrong version number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    testing_support::FakeFtpServer server;
    if (*c.authReply) server.setReply("AUTH", c.authReply);
    testing_support::TempDir local;
    Downloader job = marlowick_test::jobFor(server.port(), local.path());
    job.secure = c.secure;
    // A server that answers the handshake with nothing at all is given up on soon.
    job.timeout = 2;
    const auto run = marlowick_test::runJob(job);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.log, marlowick_test::errorLine(c.error));
    // Every command has arrived once the client has gone.
    ASSERT_TRUE(server.waitForClosedConnections(1));
    EXPECT_TRUE(server.commandsWithVerb("USER").empty());
    EXPECT_TRUE(server.commandsWithVerb("PASS").empty());
    for (const std::string& line : server.commands()) {
      EXPECT_EQ(line.find("secret"), std::string::npos) << line;
    }
    if (c.secure == kExplicit) {
      ASSERT_FALSE(server.commands().empty());
      EXPECT_EQ(server.commands().front(), "AUTH TLS");
    }
  }
}

}  // namespace
