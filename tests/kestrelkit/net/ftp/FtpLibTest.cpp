#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "platform/Socket.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/TempDir.h"

namespace kestrelkit::net::ftp {
namespace {

using testing_support::FakeFtpServer;
using testing_support::FakeTransfer;
using testing_support::readFile;
using testing_support::TempDir;
using Lines = std::vector<std::string>;

const std::string kReadme = "-rw-r--r--   1 owner    group         531 Jan 29  2024 README";
const std::string kEtc = "drwxr-xr-x   2 owner    group         512 May 31  1994 etc";

// A port on which nothing listens.
int unusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

class FtpLibTest : public ::testing::Test {
 protected:
  // Connected and logged in; the transcript so far is USER, PASS, SYST.
  void logIn(FtpLib& connection) {
    ASSERT_TRUE(connection.connect(server.host(), server.port()));
    ASSERT_TRUE(connection.login("user", "secret"));
  }
  // The transcript from command `from` on.
  Lines commandsFrom(std::size_t from) const {
    Lines all = server.commands();
    return Lines(all.begin() + std::min(from, all.size()), all.end());
  }

  FakeFtpServer server;
};

TEST_F(FtpLibTest, ConnectHandsHostAndPortToTheLibrary) {
  FtpLib connection;
  EXPECT_EQ(connection.lastResponse(), "");
  ASSERT_TRUE(connection.connect("127.0.0.1", server.port()));
  EXPECT_EQ(connection.lastResponse(), "220 fake ready\n");
  EXPECT_TRUE(server.commands().empty());
}

TEST_F(FtpLibTest, FailedConnectLeavesNoConnection) {
  {
    FtpLib connection;
    EXPECT_FALSE(connection.connect("127.0.0.1", unusedPort()));
    EXPECT_EQ(connection.lastResponse(), "");
    EXPECT_FALSE(connection.chdir("x"));
    // Ports and hosts that ftplib would mistake for service names (and crash on) or cut short.
    EXPECT_FALSE(connection.connect("127.0.0.1", -21));
    EXPECT_FALSE(connection.connect("::1", server.port()));
    EXPECT_FALSE(connection.connect("127.0.0.1", server.port() + 65536));
    EXPECT_FALSE(connection.connect(std::string("127.0.0.1\0x", 11), server.port()));
  }
  server.setGreeting("421 Too many users");
  {
    FtpLib connection;
    EXPECT_FALSE(connection.connect("127.0.0.1", server.port()));
    EXPECT_EQ(connection.lastResponse(), "");
  }
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_TRUE(server.commands().empty());
}

TEST_F(FtpLibTest, WithoutAConnectionEveryOperationFailsQuietly) {
  FtpLib connection;
  std::string text = "stale";
  std::vector<FtpFileInfo> records(2);
  std::int32_t size = 7;
  EXPECT_FALSE(connection.login("u", "p"));
  EXPECT_FALSE(connection.setActiveMode());
  EXPECT_FALSE(connection.setPassiveMode());
  EXPECT_FALSE(connection.put("/nonexistent", "r", 'I'));
  EXPECT_FALSE(connection.get("/nonexistent", "r", 'I'));
  EXPECT_FALSE(connection.remoteSize("r", size, 'I'));
  EXPECT_EQ(size, 7);
  EXPECT_FALSE(connection.remoteModDate("r", text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(connection.mkdir("r"));
  EXPECT_FALSE(connection.getSystemType(text));
  EXPECT_FALSE(connection.isWindows());
  EXPECT_FALSE(connection.chdir("r"));
  EXPECT_FALSE(connection.cdup());
  EXPECT_FALSE(connection.deleteFile("r"));
  EXPECT_FALSE(connection.rmdir("r"));
  EXPECT_FALSE(connection.pwd(text));
  EXPECT_EQ(connection.pwd(), "");
  EXPECT_FALSE(connection.nlstToFile("/nonexistent", "r"));
  EXPECT_FALSE(connection.listToFile("/nonexistent", "r"));
  EXPECT_FALSE(connection.list("r", records));
  EXPECT_TRUE(records.empty());
  EXPECT_FALSE(connection.rename("a", "b"));
  EXPECT_FALSE(connection.sendCommand("NOOP", '2'));
  EXPECT_FALSE(connection.sendCommand(static_cast<const char*>(nullptr), '2'));
  EXPECT_FALSE(connection.utf8On());
  connection.quit();
  connection.close();
  EXPECT_EQ(connection.lastResponse(), "");
}

TEST_F(FtpLibTest, LoginAsksTheSystemType) {
  FtpLib connection;
  logIn(connection);
  EXPECT_EQ(server.commands(), (Lines{"USER user", "PASS secret", "SYST"}));
  EXPECT_EQ(connection.systemType(), "UNIX");
  EXPECT_FALSE(connection.isWindows());
  // The stored type answers without a word to the server.
  std::string type;
  EXPECT_TRUE(connection.getSystemType(type));
  EXPECT_EQ(type, "UNIX");
  EXPECT_EQ(server.commands().size(), 3u);
}

TEST_F(FtpLibTest, UserAnsweredWithCompletionNeedsNoPassword) {
  server.setReply("USER", "230 No password needed.");
  FtpLib connection;
  logIn(connection);
  EXPECT_EQ(server.commands(), (Lines{"USER user", "SYST"}));
}

TEST_F(FtpLibTest, RefusedSystemTypeStillLogsIn) {
  server.setReply("SYST", "500 no");
  FtpLib connection;
  logIn(connection);
  EXPECT_EQ(connection.systemType(), "");
  EXPECT_FALSE(connection.isWindows());
  EXPECT_EQ(connection.lastResponse(), "500 no\n");
}

TEST_F(FtpLibTest, SystemTypeIsTheFirstWordWithoutLineEnd) {
  struct Case {
    const char* reply;
    const char* type;
    bool windows;
  };
  for (const Case& c :
       {Case{"215 Windows_NT", "Windows_NT", true},
        Case{"215 Windows_NT version 5.0", "Windows_NT", true},
        Case{"215 windows_nt", "windows_nt", false}, Case{"215 UNIX Type: L8", "UNIX", false}}) {
    SCOPED_TRACE(c.reply);
    server.setReply("SYST", c.reply);
    FtpLib connection;
    logIn(connection);
    EXPECT_EQ(connection.systemType(), c.type);
    EXPECT_EQ(connection.isWindows(), c.windows);
  }
}

TEST_F(FtpLibTest, FailedLoginKeepsTheSystemType) {
  FtpLib connection;
  logIn(connection);
  server.setReply("PASS", "530 Login incorrect.");
  EXPECT_FALSE(connection.login("user", "wrong"));
  EXPECT_EQ(connection.systemType(), "UNIX");
  EXPECT_EQ(connection.lastResponse(), "530 Login incorrect.\n");
}

TEST_F(FtpLibTest, Utf8OnJudgesTheReplyCode) {
  struct Case {
    const char* reply;
    bool result;
  };
  for (const Case& c : {Case{"200 Always in UTF8 mode.", true}, Case{"500 Unknown command.", false},
                        Case{"501 Option not understood.", false}}) {
    SCOPED_TRACE(c.reply);
    server.setReply("OPTS UTF8 ON", c.reply);
    FtpLib connection;
    logIn(connection);
    const std::size_t before = server.commands().size();
    EXPECT_EQ(connection.utf8On(), c.result);
    EXPECT_EQ(commandsFrom(before), Lines{"OPTS UTF8 ON"});
    EXPECT_EQ(connection.lastResponse(), std::string(c.reply) + "\n");
  }
}

TEST_F(FtpLibTest, SendCommandReadsMultiLineRepliesAndKeepsTheLibraryInStep) {
  server.setReply("HELP",
                  "214-The following commands are recognized:\n"
                  " USER PASS\n"
                  "2140 is not the end: no blank after the code\n"
                  "214-still going\n"
                  "214 Help OK.");
  FtpLib connection;
  logIn(connection);
  EXPECT_TRUE(connection.sendCommand(std::string("HELP"), '2'));
  EXPECT_EQ(connection.lastResponse(),
            "214 The following commands are recognized: USER PASS 2140 is not the end: no blank "
            "after the code still going Help OK.\n");
  // Whatever follows is read by the library from where our reader stopped.
  EXPECT_TRUE(connection.chdir("pub"));
  EXPECT_EQ(connection.lastResponse(), "250 Directory changed.\n");
  EXPECT_FALSE(connection.sendCommand("NOOP", '3'));
  EXPECT_EQ(connection.lastResponse(), "200 OK.\n");
  EXPECT_EQ(connection.pwd(), "/");
  EXPECT_EQ(commandsFrom(3), (Lines{"HELP", "CWD pub", "NOOP", "PWD"}));
}

TEST_F(FtpLibTest, SendCommandRefusesLineBreaksButNotLength) {
  server.setReply("CWD", "550 No such directory.");
  FtpLib connection;
  logIn(connection);
  EXPECT_FALSE(connection.sendCommand("NOOP\r\nDELE x", '2'));
  EXPECT_FALSE(connection.sendCommand(std::string("NOOP\0DELE x", 11), '2'));
  EXPECT_FALSE(connection.chdir("a\nDELE b"));
  EXPECT_FALSE(connection.get("local", "a\r\nDELE b", 'I'));
  EXPECT_FALSE(connection.get("local", "a", 'X'));
  // A long path goes out whole and its answer is read (a 1,017-byte one once hung the job).
  EXPECT_FALSE(connection.chdir(std::string(1017, 'a')));
  EXPECT_EQ(connection.lastOutcome().replyCode, 550);
  EXPECT_EQ(commandsFrom(3), Lines{"CWD " + std::string(1017, 'a')});
}

TEST_F(FtpLibTest, SendCommandAfterTheServerHungUp) {
  server.closeAfter("NOOP");
  FtpLib connection;
  logIn(connection);
  EXPECT_TRUE(connection.sendCommand("NOOP", '2'));
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_FALSE(connection.sendCommand("NOOP", '2'));
  EXPECT_FALSE(connection.sendCommand("NOOP", '2'));
}

TEST_F(FtpLibTest, ModificationDateAndWorkingFolder) {
  server.setReply("MDTM", "213 20261208123456");
  server.setReply("PWD", "257 \"/home/user\" is the current directory.");
  FtpLib connection;
  logIn(connection);
  std::string text;
  EXPECT_TRUE(connection.remoteModDate("file.txt", text));
  EXPECT_EQ(text, "20261208123456");
  EXPECT_EQ(connection.pwd(), "/home/user");
  server.setReply("PWD", "550 Not allowed.");
  EXPECT_EQ(connection.pwd(), "");
  EXPECT_FALSE(connection.pwd(text));
  EXPECT_EQ(text, "");
  server.setReply("MDTM", "213 " + std::string(300, '7'));
  EXPECT_TRUE(connection.remoteModDate("file.txt", text));
  EXPECT_EQ(text, std::string(100, '7'));
}

TEST_F(FtpLibTest, EachOperationSendsItsCommand) {
  server.setFile("f.bin", "12345");
  FtpLib connection;
  logIn(connection);
  std::int32_t size = 0;
  EXPECT_TRUE(connection.remoteSize("f.bin", size, 'I'));
  EXPECT_EQ(size, 5);
  EXPECT_TRUE(connection.mkdir("new"));
  EXPECT_TRUE(connection.chdir("new"));
  EXPECT_TRUE(connection.cdup());
  EXPECT_TRUE(connection.deleteFile("old.txt"));
  EXPECT_TRUE(connection.rmdir("gone"));
  EXPECT_TRUE(connection.rename("a b", "c"));
  EXPECT_TRUE(connection.setActiveMode());
  EXPECT_TRUE(connection.setPassiveMode());
  EXPECT_EQ(commandsFrom(3), (Lines{"TYPE I", "SIZE f.bin", "MKD new", "CWD new", "CDUP",
                                    "DELE old.txt", "RMD gone", "RNFR a b", "RNTO c"}));
  server.setReply("CWD", "550 No such directory.");
  EXPECT_FALSE(connection.chdir("missing"));
  EXPECT_EQ(connection.lastResponse(), "550 No such directory.\n");
}

TEST_F(FtpLibTest, ListReadsRecordsInServerOrder) {
  server.setListing("pub", "total 3\r\ndrwxr-xr-x 2 o g 512 May 31  1994 .\r\n" + kReadme +
                               "\r\ndrwxr-xr-x 2 o g 512 May 31  1994 ..\r\n" + kEtc + "\r\n");
  FtpLib connection;
  logIn(connection);
  std::vector<FtpFileInfo> records(1);
  ASSERT_TRUE(connection.list("pub", records));
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].type, FtpFileType::currentFolder);
  EXPECT_EQ(records[1].name, "README");
  EXPECT_EQ(records[1].type, FtpFileType::file);
  EXPECT_EQ(records[1].size, 531u);
  EXPECT_EQ(records[1].modifyTime, connection.toFileInfo(kReadme).modifyTime);
  EXPECT_EQ(records[2].type, FtpFileType::parentFolder);
  EXPECT_EQ(records[3].name, "etc");
  EXPECT_EQ(records[3].type, FtpFileType::folder);
  EXPECT_EQ(connection.lastResponse(), "226 Transfer complete.\n");
  // The next passive request goes out as soon as the data has ended.
  ASSERT_TRUE(server.waitForCommands(3 + 4));
  EXPECT_EQ(commandsFrom(3), (Lines{"TYPE A", "PASV", "LIST pub", "PASV"}));
}

TEST_F(FtpLibTest, ListOfTheStartFolderSendsListWithOneBlank) {
  server.setListing("", "total 0\r\n");
  FtpLib connection;
  logIn(connection);
  std::vector<FtpFileInfo> records;
  EXPECT_TRUE(connection.list("", records));
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(server.commandsWithVerb("LIST"), Lines{"LIST"});
}

// Servers take a LIST argument starting with "-" as ls options and some split it at blanks:
// such folders are listed from inside, and the connection goes back where it was.
TEST_F(FtpLibTest, FoldersServersWouldMisreadAreListedFromInside) {
  server.setListing("", std::string(kReadme) + "\r\n");
  for (const std::string folder : {"-dash folder", "space dir", "a/b c"}) {
    FtpLib connection;
    logIn(connection);
    const std::size_t before = server.commands().size();
    std::vector<FtpFileInfo> records;
    EXPECT_TRUE(connection.list(folder, records)) << folder;
    ASSERT_EQ(records.size(), 1u) << folder;
    EXPECT_EQ(records[0].name, "README");
    EXPECT_EQ(commandsFrom(before),
              (Lines{"PWD", "CWD " + folder, "TYPE A", "PASV", "LIST", "PASV", "CWD /"}));
  }
  // A plain name keeps the one LIST with its path.
  FtpLib connection;
  logIn(connection);
  std::vector<FtpFileInfo> records;
  connection.list("x-y", records);
  EXPECT_EQ(server.commandsWithVerb("LIST").back(), "LIST x-y");
}

// The scan takes records as they arrive; a taker that gives up mid-listing must not leave the
// connection inside a folder entered for the listing, or every later relative path is wrong.
TEST_F(FtpLibTest, ATakerThatGivesUpInsideAMisreadFolderLeavesTheConnectionWhereItWas) {
  server.setListing("", std::string(kReadme) + "\r\n" + kReadme + "\r\n");
  FtpLib connection;
  logIn(connection);
  int taken = 0;
  auto takeOne = [&taken](FtpFileInfo&&) {
    if (++taken == 1) throw std::runtime_error("no room");
  };
  EXPECT_THROW(connection.listEach("-dash", takeOne), std::runtime_error);
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(server.commandsWithVerb("CWD"), (Lines{"CWD -dash", "CWD /"}));
  // The connection is still in step for the next command.
  std::vector<FtpFileInfo> records;
  EXPECT_TRUE(connection.list("", records));
  EXPECT_EQ(records.size(), 2u);
}

TEST_F(FtpLibTest, AMisreadFolderThatCannotBeEnteredGivesFalse) {
  server.setReply("CWD -x", "550 No such directory.");
  FtpLib connection;
  logIn(connection);
  std::vector<FtpFileInfo> records{FtpFileInfo{}};
  EXPECT_FALSE(connection.list("-x", records));
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(server.commandsWithVerb("LIST"), Lines{});
}

TEST_F(FtpLibTest, ListRefusedGivesFalseAndTheReply) {
  server.setReply("LIST", "550 No such file or directory.");
  FtpLib connection;
  logIn(connection);
  std::vector<FtpFileInfo> records(3);
  EXPECT_FALSE(connection.list("missing", records));
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(connection.lastResponse(), "550 No such file or directory.\n");
  // The connection goes on normally afterwards.
  EXPECT_TRUE(connection.chdir("x"));
}

TEST_F(FtpLibTest, LineEndsDoNotChangeRecords) {
  struct Case {
    const char* what;
    std::string data;
  };
  for (const Case& c :
       {Case{"CR LF", kReadme + "\r\n" + kEtc + "\r\n"}, Case{"LF", kReadme + "\n" + kEtc + "\n"},
        Case{"no final line end", kReadme + "\r\n" + kEtc},
        // A server in text mode may send CR CR LF: every CR belongs to the line end.
        Case{"CR CR LF", kReadme + "\r\r\n" + kEtc + "\r\r\n"},
        Case{"no final line end after CRs", kReadme + "\r\r\n" + kEtc + "\r\r"},
        Case{"blank lines", "\r\n" + kReadme + "\n\n\r\n" + kEtc + "\n"}}) {
    SCOPED_TRACE(c.what);
    server.setListing("pub", c.data);
    FtpLib connection;
    logIn(connection);
    std::vector<FtpFileInfo> records;
    ASSERT_TRUE(connection.list("pub", records));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], connection.toFileInfo(kReadme));
    EXPECT_EQ(records[1], connection.toFileInfo(kEtc));
    EXPECT_EQ(records[1].name, "etc");
  }
}

// A listing cut short would make its folder look smaller than it is: it fails, whether the data
// connection ends early in order or with a reset, and whatever the server's final word.
TEST_F(FtpLibTest, ListingCutShortFails) {
  const std::string data = kReadme + "\r\n" + kEtc + "\r\n" + kReadme + "2\r\n";
  struct Case {
    bool reset;
    std::size_t dropAfter;
    const char* finalReply;
  };
  for (const Case& c : {Case{false, kReadme.size() + 2 + kEtc.size() + 2 + 10, "426 Aborted."},
                        Case{true, kReadme.size() + 2 + kEtc.size() + 2 + 10, "426 Aborted."},
                        Case{true, 10, "226 Transfer complete."}}) {
    SCOPED_TRACE(c.dropAfter);
    FakeTransfer transfer;
    transfer.data = data;
    transfer.dropAfter = c.dropAfter;
    transfer.resetOnDrop = c.reset;
    transfer.pauseAt = {c.dropAfter};  // the client has read the lines before the drop
    transfer.finalReply = c.finalReply;
    server.setListing("pub", transfer);
    FtpLib connection;
    logIn(connection);
    std::vector<FtpFileInfo> records(1);
    EXPECT_FALSE(connection.list("pub", records));
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(connection.lastResponse(), std::string(c.finalReply) + "\n");
    EXPECT_TRUE(connection.sendCommand("NOOP", '2')) << "the session stays in step";
  }
}

// Lines that belong together are read together, and a listing the server says it cut is not
// taken as the whole folder.
TEST_F(FtpLibTest, ListingsSpreadOverLinesOrCutByTheServer) {
  const std::string vmsRest = "  1  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)";
  struct Case {
    const char* what;
    std::string data;
    std::string finalReply;
    bool listed;
    Lines names;
  };
  const Case cases[] = {
      {"VMS entry on two lines",
       "A_VERY_LONG_NAME.TXT;1\r\n     " + vmsRest + "\r\nB.TXT;1" + vmsRest + "\r\n",
       "226 Done.",
       true,
       {"A_VERY_LONG_NAME.TXT", "B.TXT"}},
      {"a second line alone is no entry", "     " + vmsRest + "\r\n", "226 Done.", true, {}},
      {"a name line without its second line",
       "LONELY.TXT;1\r\nB.TXT;1" + vmsRest + "\r\n",
       "226 Done.",
       true,
       {"B.TXT"}},
      {"the last line a name alone",
       "B.TXT;1" + vmsRest + "\r\nLAST.TXT;1\r\n",
       "226 Done.",
       true,
       {"B.TXT"}},
      // Versions of a name give one record, handed over once the listing is whole.
      {"VMS versions",
       "README.TXT;2" + vmsRest + "\r\nREADME.TXT;4  2  9-SEP-1996 16:09 [S]\r\nREADME.TXT;3" +
           vmsRest + "\r\n" + kReadme + "\r\nA.TXT;1" + vmsRest + "\r\n",
       "226 Done.",
       true,
       {"README", "A.TXT", "README.TXT"}},
      {"pure-ftpd's match limit",
       kReadme + "\r\n",
       "226-Output truncated to 1 matches\n226 1 matches total",
       false,
       {}},
      {"a limit said in capitals", kReadme + "\r\n", "226 OUTPUT TRUNCATED", false, {}},
      {"a whole listing", kReadme + "\r\n", "226 1 matches total", true, {"README"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeTransfer transfer;
    transfer.data = c.data;
    transfer.finalReply = c.finalReply;
    server.setListing("pub", transfer);
    FtpLib connection;
    logIn(connection);
    std::vector<FtpFileInfo> records;
    ASSERT_EQ(connection.list("pub", records), c.listed);
    Lines names;
    for (const FtpFileInfo& record : records) names.push_back(record.name);
    EXPECT_EQ(names, c.names);
    if (!records.empty() && records.back().name == "README.TXT") {
      EXPECT_EQ(records.back().modifyTime,
                connection.toFileInfo("README.TXT;4  2  9-SEP-1996 16:09 [S]").modifyTime)
          << "from the highest version";
    }
    if (!c.listed) {
      EXPECT_FALSE(connection.lastOutcome().transient()) << "asking again is cut the same way";
      EXPECT_EQ(connection.lastOutcome().replyCode, 226);
      EXPECT_EQ(connection.lastOutcome().reason + "\n", connection.lastResponse());
    }
  }
}

// MLSD where it is allowed and offered; LIST otherwise, and for good once MLSD is refused.
TEST_F(FtpLibTest, FoldersAreListedWithMlsdWhereOffered) {
  const std::string kFeatures = "211-Features:\n MDTM\n MLST type*;size*;modify*;\n211 End";
  const std::string kMlsd = "type=file;size=7;modify=20240302151345; mlsd.txt\r\n";
  struct Case {
    const char* what;
    bool allowed;
    std::string features;  // the FEAT reply; empty: the server's default "502"
    std::string mlsdRefusal;
    Lines commands;  // after USER, PASS, SYST
    Lines names;     // of two listings of "pub"
    Lines notices;
  };
  const Case cases[] = {
      {"offered",
       true,
       kFeatures,
       "",
       {"FEAT", "TYPE A", "PASV", "MLSD pub", "PASV", "MLSD pub"},
       {"mlsd.txt", "mlsd.txt"},
       {}},
      {"not allowed",
       false,
       kFeatures,
       "",
       {"TYPE A", "PASV", "LIST pub", "PASV", "LIST pub"},
       {"README", "README"},
       {}},
      {"not offered",
       true,
       "211-Features:\n MDTM\n MLSTX\n211 End",
       "",
       {"FEAT", "TYPE A", "PASV", "LIST pub", "PASV", "LIST pub"},
       {"README", "README"},
       {}},
      {"no FEAT",
       true,
       "",
       "",
       {"FEAT", "TYPE A", "PASV", "LIST pub", "PASV", "LIST pub"},
       {"README", "README"},
       {}},
      {"offered in lower case",
       true,
       "211-Features:\n mlst type*;\n211 End",
       "",
       {"FEAT", "TYPE A", "PASV", "MLSD pub", "PASV", "MLSD pub"},
       {"mlsd.txt", "mlsd.txt"},
       {}},
      {"refused with 500",
       true,
       kFeatures,
       "500 Unknown command.",
       {"FEAT", "TYPE A", "PASV", "MLSD pub", "PASV", "LIST pub", "PASV", "LIST pub"},
       {"README", "README"},
       {"500 Unknown command."}},
      {"refused with 502",
       true,
       kFeatures,
       "502 Not implemented.",
       {"FEAT", "TYPE A", "PASV", "MLSD pub", "PASV", "LIST pub", "PASV", "LIST pub"},
       {"README", "README"},
       {"502 Not implemented."}},
      {"refused with 504",
       true,
       kFeatures,
       "504 Not for that argument.",
       {"FEAT", "TYPE A", "PASV", "MLSD pub", "PASV", "LIST pub", "PASV", "LIST pub"},
       {"README", "README"},
       {"504 Not for that argument."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFtpServer fresh;
    fresh.setListing("pub", kReadme + "\r\n");
    fresh.setMlsdListing("pub", kMlsd);
    if (!c.features.empty()) fresh.setReply("FEAT", c.features);
    if (!c.mlsdRefusal.empty()) fresh.setReply("MLSD", c.mlsdRefusal);
    FtpLib connection;
    Lines notices;
    connection.setMlsdAllowed(c.allowed,
                              [&notices](const std::string& text) { notices.push_back(text); });
    ASSERT_TRUE(connection.connect(fresh.host(), fresh.port()));
    ASSERT_TRUE(connection.login("user", "secret"));
    Lines names;
    for (int round = 0; round < 2; ++round) {
      std::vector<FtpFileInfo> records;
      ASSERT_TRUE(connection.list("pub", records));
      for (const FtpFileInfo& record : records) names.push_back(record.name);
    }
    Lines sent = fresh.commands();
    sent.erase(sent.begin(), sent.begin() + 3);
    if (!sent.empty() && sent.back() == "PASV") sent.pop_back();  // asked ahead of a next one
    EXPECT_EQ(sent, c.commands);
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(notices, c.notices);
  }
}

TEST_F(FtpLibTest, AListingEndingInsideALineIsDoubtedOnceWhenAskedTo) {
  // Closed in order mid-line with "226": only the missing line end tells.
  server.setListing("pub", kReadme + "\r\n" + kEtc.substr(0, 20));
  server.setListing("etc", kEtc + "\r\n");
  FtpLib connection;
  logIn(connection);
  std::vector<FtpFileInfo> records;
  ASSERT_TRUE(connection.list("pub", records)) << "not asked to: taken as it is";
  EXPECT_EQ(records.size(), 1u);
  connection.setListingEndsChecked(true);
  // Path listed, the bytes it ends with now ("" unchanged), and whether it is taken: only the
  // very same bytes a second time in a row are the server's way of ending.
  const std::string cutElsewhere = kReadme + "\r\n" + kEtc.substr(0, 30);
  const std::tuple<const char*, std::string, bool> steps[] = {
      {"pub", "", false}, {"pub", "", true},  {"etc", "", true},           {"pub", "", false},
      {"pub", "", true},  {"pub", "", false}, {"pub", cutElsewhere, false}, {"pub", "", true}};
  for (const auto& [path, data, taken] : steps) {
    if (!data.empty()) server.setListing(path, data);
    EXPECT_EQ(connection.list(path, records), taken) << path;
    if (!taken) {
      EXPECT_EQ(connection.lastOutcome().reason, "listing cut short");
      EXPECT_TRUE(connection.lastOutcome().transient());
    }
  }
}

TEST_F(FtpLibTest, OverlongLinesArriveInPiecesWithinTheBuffer) {
  // 8,192 bytes without a line end, then a pause: the read that ends exactly there is what
  // makes ftplib's own text reader write past its caller's buffer.
  FakeTransfer transfer;
  transfer.data = std::string(8192, 'x') + std::string(20000, 'y') + "\r\n" + kEtc + "\r\n";
  transfer.pauseAt = {8192, 8192 + 8191};
  server.setListing("pub", transfer);
  FtpLib connection;
  logIn(connection);
  std::vector<FtpFileInfo> records;
  ASSERT_TRUE(connection.list("pub", records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, "etc");
  EXPECT_EQ(connection.overlongLines(), 1u);
  // A line whose first 8,191 bytes read as an entry is left out whole, not cut into a name the
  // server never listed.
  server.setListing("pub", kEtc.substr(0, kEtc.size() - 3) + std::string(9000, 'n') + "\r\n" +
                               kEtc + "\r\n");
  ASSERT_TRUE(connection.list("pub", records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, "etc");
  EXPECT_EQ(connection.overlongLines(), 1u);
  // A long name inside one piece is kept whole.
  const std::string longName(8000, 'n');
  server.setListing("pub", kEtc.substr(0, kEtc.size() - 3) + longName + "\n");
  ASSERT_TRUE(connection.list("pub", records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, longName);
  EXPECT_EQ(connection.overlongLines(), 0u);
}

TEST_F(FtpLibTest, ListInActiveMode) {
  server.setListing("pub", kReadme + "\r\n");
  FtpLib connection;
  ASSERT_TRUE(connection.connect(server.host(), server.port()));
  EXPECT_TRUE(connection.setActiveMode());
  ASSERT_TRUE(connection.login("user", "secret"));
  std::vector<FtpFileInfo> records;
  ASSERT_TRUE(connection.list("pub", records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, "README");
  const Lines sent = commandsFrom(3);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], "TYPE A");
  EXPECT_EQ(sent[1].rfind("PORT 127,0,0,1,", 0), 0u);
  EXPECT_EQ(sent[2], "LIST pub");
}

// Over IPv6 data connections are asked for with EPSV and offered with EPRT.
TEST_F(FtpLibTest, Ipv6UsesExtendedDataCommands) {
  std::unique_ptr<FakeFtpServer> six;
  try {
    six = std::make_unique<FakeFtpServer>(6);
  } catch (const std::exception&) {
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  six->setListing("", kReadme + "\r\n");
  for (bool passive : {true, false}) {
    FtpLib connection;
    // The address may stand in brackets, as addresses write it.
    ASSERT_TRUE(connection.connect(passive ? "::1" : "[::1]", six->port()));
    passive ? connection.setPassiveMode() : connection.setActiveMode();
    ASSERT_TRUE(connection.login("user", "secret"));
    std::vector<FtpFileInfo> records;
    ASSERT_TRUE(connection.list("", records));
    EXPECT_EQ(records.size(), 1u);
  }
  const Lines sent = six->commands();
  EXPECT_FALSE(six->commandsWithVerb("EPSV").empty());
  ASSERT_EQ(six->commandsWithVerb("EPRT").size(), 1u);
  EXPECT_EQ(six->commandsWithVerb("EPRT")[0].rfind("EPRT |2|::1|", 0), 0u);
  EXPECT_TRUE(six->commandsWithVerb("PASV").empty());
}

// A 227 reply cannot send the data connection elsewhere: only its port is used.
TEST_F(FtpLibTest, PassiveDataGoesToTheServersAddressWhateverTheReplyNames) {
  platform::Listener elsewhere;
  ASSERT_TRUE(elsewhere.open(platform::loopbackAddress(4)).ok());
  const int port = elsewhere.address().port;
  server.setReply("PASV", "227 Entering Passive Mode (10,9,8,7," + std::to_string(port / 256) +
                              "," + std::to_string(port % 256) + ").");
  server.setReply("LIST", "425 No data connection.");
  FtpLib connection;
  logIn(connection);
  std::vector<FtpFileInfo> records;
  EXPECT_FALSE(connection.list("", records));
  platform::Socket taken;
  platform::NetAddress from;
  EXPECT_TRUE(elsewhere.accept(taken, from, platform::Deadline::after(std::chrono::seconds(5))).ok());
  EXPECT_EQ(from.text(), "127.0.0.1");
}

TEST_F(FtpLibTest, GetIsJudgedByTheFinalReply) {
  TempDir folder;
  const std::string content("hello\r\nworld\0\xff", 14);
  const std::string local = folder.file("got.bin");
  struct Case {
    const char* finalReply;
    bool dropControl;
    bool result;
  };
  for (const Case& c :
       {Case{"226 Transfer complete.", false, true},
        Case{"426 Connection closed; transfer aborted.", false, false},
        Case{"451 Local error in processing.", false, false}, Case{"", true, false}}) {
    SCOPED_TRACE(c.finalReply);
    FakeTransfer transfer;
    transfer.data = content;
    transfer.finalReply = c.finalReply;
    transfer.dropControl = c.dropControl;
    server.setFile("dir/file.bin", transfer);
    FtpLib connection;
    logIn(connection);
    EXPECT_EQ(connection.get(local, "dir/file.bin", 'I'), c.result);
    EXPECT_EQ(readFile(local), content);
  }
  FtpLib connection;
  logIn(connection);
  EXPECT_FALSE(connection.get(local, "missing.bin", 'I'));
  EXPECT_EQ(connection.lastResponse(), "550 No such file or directory.\n");
  EXPECT_FALSE(connection.get(folder.file("no/such/folder/x"), "dir/file.bin", 'I'));
  EXPECT_EQ(connection.lastResponse(), "No such file or directory");
}

TEST_F(FtpLibTest, ClosingNeverSaysQuitAndHappensOnce) {
  {
    FtpLib connection;
    logIn(connection);
  }
  ASSERT_TRUE(server.waitForClosedConnections(1));
  {
    FtpLib connection;
    logIn(connection);
    connection.close();
    connection.close();
    ASSERT_TRUE(server.waitForClosedConnections(2));
    EXPECT_EQ(connection.lastResponse(), "");
  }
  {
    FtpLib connection;
    logIn(connection);
    connection.quit();
    connection.quit();
  }
  ASSERT_TRUE(server.waitForClosedConnections(3));
  EXPECT_EQ(server.commandsWithVerb("QUIT"), Lines{"QUIT"});
  EXPECT_EQ(server.connectionsAccepted(), 3);
  EXPECT_EQ(server.connectionsClosed(), 3);
}

TEST_F(FtpLibTest, SecondConnectReplacesTheFirst) {
  FtpLib connection;
  ASSERT_TRUE(connection.connect(server.host(), server.port()));
  ASSERT_TRUE(connection.connect(server.host(), server.port()));
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_TRUE(connection.login("user", "secret"));
}

TEST_F(FtpLibTest, TransfersToAndFromFiles) {
  TempDir folder;
  server.setListing("pub", kReadme + "\r\n");
  server.setReply("NLST", "550 Not here.");
  FtpLib connection;
  logIn(connection);
  EXPECT_TRUE(connection.listToFile(folder.file("list.txt"), "pub"));
  EXPECT_EQ(readFile(folder.file("list.txt")), kReadme + "\n");
  EXPECT_FALSE(connection.nlstToFile(folder.file("names.txt"), "pub"));
  testing_support::writeFile(folder.file("up.txt"), "uploaded");
  EXPECT_TRUE(connection.put(folder.file("up.txt"), "up.txt", 'I'));
  ASSERT_TRUE(server.stored("up.txt").has_value());
  EXPECT_EQ(*server.stored("up.txt"), "uploaded");
}

// ftplib's own line reader writes past its buffer on lines longer than 8 KiB: listings saved
// to a file go through the program's reader, line ends reduced as in any text transfer.
TEST_F(FtpLibTest, ListingsSavedToFilesKeepOverlongLinesWhole) {
  const std::string longLine = "-rw-r--r-- 1 o g 5 Jan 29  2024 " + std::string(20000, 'n');
  server.setListing("pub", longLine + "\r\n" + kReadme + "\r\nlast line without end");
  server.setReply("NLST pub", "550 Not here.");
  TempDir folder;
  FtpLib connection;
  logIn(connection);
  ASSERT_TRUE(connection.listToFile(folder.file("list.txt"), "pub"));
  EXPECT_TRUE(readFile(folder.file("list.txt")) ==
              longLine + "\n" + kReadme + "\nlast line without end");
  // A refused listing leaves the reply as the reason and no transfer behind.
  EXPECT_FALSE(connection.nlstToFile(folder.file("names.txt"), "pub"));
  EXPECT_EQ(connection.lastResponse().substr(0, 3), "550");
  EXPECT_TRUE(connection.listToFile(folder.file("again.txt"), "pub"));
}

TEST_F(FtpLibTest, OneCommandAtATimeFromManyThreads) {
  server.setListing("pub", kReadme + "\r\n" + kEtc + "\r\n");
  FtpLib connection;
  logIn(connection);
  std::atomic<int> failures{0};
  auto lister = [&] {
    for (int i = 0; i < 15; ++i) {
      std::vector<FtpFileInfo> records;
      if (!connection.list("pub", records) || records.size() != 2) ++failures;
    }
  };
  auto walker = [&] {
    for (int i = 0; i < 15; ++i) {
      if (!connection.chdir("pub") || !connection.sendCommand("NOOP", '2')) ++failures;
    }
  };
  std::thread a(lister), b(walker), c(lister);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(failures, 0);
  // Every listing's three commands stayed together.
  const Lines sent = commandsFrom(3);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    if (sent[i] != "TYPE A") continue;
    ASSERT_LT(i + 2, sent.size());
    EXPECT_EQ(sent[i + 1], "PASV");
    EXPECT_EQ(sent[i + 2], "LIST pub");
  }
}

// An active-mode listing whose data connection never comes ends at the time limit, and the
// listening socket goes without taking another descriptor with it.
TEST_F(FtpLibTest, ActiveModeServerThatNeverConnects) {
  FakeTransfer transfer;
  transfer.noDataConnection = true;
  transfer.holdControl = std::chrono::seconds(3);
  server.setListing("pub", transfer);
  struct stat before {};
  const bool haveInput = ::fstat(0, &before) == 0;
  FtpLib connection;
  connection.setTimeout(std::chrono::milliseconds(300));
  ASSERT_TRUE(connection.connect(server.host(), server.port()));
  connection.setActiveMode();
  ASSERT_TRUE(connection.login("user", "secret"));
  std::vector<FtpFileInfo> records(1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(connection.list("pub", records));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(250));
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(connection.lastResponse(), "timed out waiting for connection");
  // Standard input must survive the listener's end.
  struct stat after {};
  if (haveInput) {
    ASSERT_EQ(::fstat(0, &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_dev, before.st_dev);
  }
}

}  // namespace
}  // namespace kestrelkit::net::ftp
