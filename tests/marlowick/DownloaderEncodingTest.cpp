// Names and replies between the server's code page and the program's UTF-8.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "marlowick/Downloader.h"
#include "platform/Files.h"
#include "tests/marlowick/DownloaderJobSupport.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

// glibc's newlocale keeps a copy of LOCPATH that it never frees; only these tests set LOCPATH.
// Read by LeakSanitizer in sanitizer builds, unused otherwise.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

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

using Commands = std::vector<std::string>;

const std::string kCafeUtf8 = "caf\xC3\xA9.txt";
const std::string kCafeLatin1 = "caf\xE9.txt";
const std::string kDepotUtf8 = "d\xC3\xA9p\xC3\xB4t";
const std::string kDepotLatin1 = "d\xE9p\xF4t";

TEST(DownloaderEncodingTest, ConversionsFollowTheEncoding) {
  Downloader job;
  job.systemCodePage = "ISO-8859-1";
  EXPECT_EQ(job.toServer(kCafeUtf8), kCafeLatin1);
  EXPECT_EQ(job.fromServer(kCafeLatin1), kCafeUtf8);
  EXPECT_EQ(job.toServer("\xE6\x97\xA5.txt"), "?.txt");
  EXPECT_EQ(job.toServer(""), "");
  job.encoding = 65001;
  // UTF-8 on both sides: the bytes pass unchanged, even ones that are not UTF-8.
  EXPECT_EQ(job.toServer(kCafeLatin1), kCafeLatin1);
  EXPECT_EQ(job.fromServer(kCafeLatin1), kCafeLatin1);
  job.encoding = 0;
  job.systemCodePage = "NO-SUCH-CHARSET";
  EXPECT_THROW(job.toServer("x"), std::runtime_error);
  EXPECT_THROW(job.fromServer("x"), std::runtime_error);
}

/// Serves a Latin-1 tree to a client whose "OPTS UTF8 ON" is refused.
void serveLatin1(FakeFtpServer& server) {
  server.setReply("OPTS UTF8 ON", "501 Unsupported.");
  server.setReply("CWD", "250 Directory changed to /d\xE9p\xF4t.");
  server.setListing("",
                    fileLine(kCafeLatin1, 4) + fileLine("plain.txt", 1) + folderLine("\xE9t\xE9"));
  server.setListing("\xE9t\xE9", fileLine("juin.txt", 2));
  server.setFile(kCafeLatin1, "caf\xE9");
  server.setFile("\xE9t\xE9/juin.txt", "jj");
  server.setReply("RETR plain.txt", "550 Acc\xE8s refus\xE9.");
}

/// Checks what a job with code page 0 in Latin-1 did against `serveLatin1`.
void checkLatin1Job(const Downloader& job, const marlowick_test::JobRun& run,
                    const FakeFtpServer& server, const TempDir& dir) {
  EXPECT_TRUE(run.result);
  EXPECT_EQ(job.encoding, 0u);
  EXPECT_EQ(job.savedCount, 2u);
  // Local names are UTF-8; the bytes of the files are not touched.
  EXPECT_EQ(readFile(dir.file(kCafeUtf8)), "caf\xE9");
  EXPECT_EQ(readFile(dir.file("\xC3\xA9t\xC3\xA9/juin.txt")), "jj");
  EXPECT_EQ(platform::pathKind(dir.file(kCafeLatin1)), PathKind::missing);
  const std::string lines[] = {
      " Downloading " + kCafeUtf8 + " 1/3 ...",
      " Downloading plain.txt 2/3 ...",
      "Download plain.txt failed: 550 Acc\xC3\xA8s refus\xC3\xA9.",
      " Downloading \xC3\xA9t\xC3\xA9/juin.txt 3/3 ...",
  };
  EXPECT_EQ(run.console,
            " Connecting 127.0.0.1 ...\n Connected to 127.0.0.1\n"
            " working directory changed to " +
                kDepotUtf8 + "\n" + lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n" + lines[3] +
                "\n");
  EXPECT_EQ(run.log, infoLine(" Connected to 127.0.0.1") + infoLine(lines[0]) + infoLine(lines[1]) +
                         errorLine(lines[2]) + infoLine(lines[3]));
  // The server is asked in its own code page, for each file by its name exactly as listed.
  EXPECT_EQ(server.commandsWithVerb("CWD"), Commands{"CWD " + kDepotLatin1});
  EXPECT_EQ(server.commandsWithVerb("LIST"), (Commands{"LIST", "LIST \xE9t\xE9"}));
  EXPECT_EQ(server.commandsWithVerb("RETR"),
            (Commands{"RETR " + kCafeLatin1, "RETR plain.txt", "RETR \xE9t\xE9/juin.txt"}));
}

TEST(DownloaderEncodingTest, RefusedUtf8ConvertsNamesWithTheSystemCodePage) {
  FakeFtpServer server;
  serveLatin1(server);
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.systemCodePage = "ISO-8859-1";
  job.remote = kDepotUtf8;
  job.recurse = true;
  job.include = "caf\xC3\xA9*|plain*|*/juin*";  // patterns are matched in the server's code page
  auto run = runJob(job);
  ASSERT_TRUE(server.waitForClosedConnections(1));
  checkLatin1Job(job, run, server, dir);
}

/// Sets environment variables for one test and puts the old values back afterwards.
class EnvOverride {
 public:
  void set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
  }
  ~EnvOverride() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(DownloaderEncodingTest, RefusedUtf8UsesTheLocaleCharacterSet) {
  TempDir locales;
  auto made = testing_support::runProcess(
      {"/usr/bin/localedef", "-i", "en_US", "-f", "ISO-8859-1", locales.file("en_US.ISO-8859-1")});
  if (made.exitCode != 0) GTEST_SKIP() << "localedef could not make a Latin-1 locale";
  EnvOverride env;
  env.set("LOCPATH", locales.path());
  env.set("LC_ALL", "en_US.ISO-8859-1");
  FakeFtpServer server;
  serveLatin1(server);
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.remote = kDepotUtf8;
  job.recurse = true;
  auto run = runJob(job);
  EXPECT_EQ(job.systemCodePage, "ISO-8859-1");
  ASSERT_TRUE(server.waitForClosedConnections(1));
  checkLatin1Job(job, run, server, dir);
}

TEST(DownloaderEncodingTest, AcceptedUtf8PassesNamesUnchanged) {
  FakeFtpServer server;
  server.setListing("", fileLine(kCafeUtf8, 2));
  server.setFile(kCafeUtf8, "ok");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.systemCodePage = "ISO-8859-1";  // not used once the server speaks UTF-8
  job.remote = kDepotUtf8;
  auto run = runJob(job);
  EXPECT_EQ(job.encoding, 65001u);
  EXPECT_EQ(job.savedCount, 1u);
  EXPECT_EQ(readFile(dir.file(kCafeUtf8)), "ok");
  ASSERT_TRUE(server.waitForClosedConnections(1));
  EXPECT_EQ(server.commandsWithVerb("CWD"), Commands{"CWD " + kDepotUtf8});
  EXPECT_EQ(server.commandsWithVerb("RETR"), Commands{"RETR " + kCafeUtf8});
}

// Latin-1 names read as UTF-8 both become "caf\uFFFD.txt": the second must not overwrite the
// first, nor be counted.
TEST(DownloaderEncodingTest, TwoRemoteNamesWithOneLocalNameNeverOverwriteEachOther) {
  FakeFtpServer server;
  server.setReply("OPTS UTF8 ON", "501 Unsupported.");
  server.setListing("", fileLine("caf\xE9.txt", 5) + fileLine("caf\xE8.txt", 6));
  server.setFile("caf\xE9.txt", "first");
  server.setFile("caf\xE8.txt", "second");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.systemCodePage = "UTF-8";
  auto run = runJob(job);
  EXPECT_EQ(job.savedCount, 1u);
  EXPECT_EQ(readFile(dir.file("caf\xEF\xBF\xBD.txt")), "first");
  EXPECT_NE(run.log.find(errorLine("Download caf\xEF\xBF\xBD.txt failed: another remote name of "
                                   "this job has the same local name")),
            std::string::npos)
      << run.log;
}

}  // namespace
