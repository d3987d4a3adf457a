// The progress line of long transfers: its text, shown on a terminal only, never logged, and no
// trace of it when the output is redirected. Remote names in what is shown and logged.
#include <gtest/gtest.h>

#include "marlowick/ConsoleOutput.h"
#include "tests/marlowick/DownloaderJobSupport.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/MarlowickRun.h"

namespace {

using marlowick::TransferProgress;
using testing_support::FakeFtpServer;
using testing_support::FakeTransfer;
using testing_support::ProgramHome;
using testing_support::TempDir;
using namespace std::chrono_literals;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kUnknown = ~std::uint64_t{0};

TEST(ProgressLine, Text) {
  struct Case {
    std::string name;
    std::uint64_t received, size;
    std::chrono::milliseconds elapsed;
    std::string expected;
    std::uint64_t earlier = 0;  // bytes a resumed file held before the transfer
  };
  const std::string cafe = "caf\xC3\xA9";
  const Case cases[] = {
      {"a.bin", 512 * kMiB, 1024 * kMiB, 2000ms,
       " a.bin  512.0 MiB / 1.0 GiB  256.0 MiB/s  0:02 left"},
      {"a.bin", 300, 1000, 1500ms, " a.bin  300 B / 1000 B  200 B/s  0:03 left"},
      {"a.bin", 5 * kMiB, kUnknown, 1000ms, " a.bin  5.0 MiB  5.0 MiB/s"},
      {"slow", 1, 7200 * 2 + 1, 1000ms, " slow  1 B / 14.1 KiB  1 B/s  4:00:00 left"},
      // A resumed file's rate counts only what arrives now.
      {"a.bin", 900, 1000, 1000ms, " a.bin  900 B / 1000 B  100 B/s  0:01 left", 800},
      // Long names keep their end, cut between characters, never inside one.
      {"folder/" + std::string(30, 'x') + ".bin", 0, 10, 1000ms,
       " ..." + std::string(21, 'x') + ".bin  0 B / 10 B  0 B/s"},
      {std::string(30, 'y') + cafe, 0, kUnknown, 1000ms,
       " ..." + std::string(21, 'y') + cafe + "  0 B  0 B/s"},
      // A terminal would obey a name's control bytes.
      {"\x1B]0;x\a\x1B[2J", 0, kUnknown, 1000ms, " \\x1B]0;x\\x07\\x1B[2J  0 B  0 B/s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TransferProgress::text(c.name, c.received, c.size, c.elapsed, c.earlier),
              c.expected);
  }
}

/// A server with one file whose data stalls for longer than a second half-way, then a quick one.
class ProgressRun : public testing::Test {
 protected:
  void SetUp() override {
    FakeTransfer slow;
    slow.data = std::string(20000, 's');
    slow.pauseAt = {10000};
    slow.pause = 1600ms;
    server.setFile("slow.bin", slow);
    server.setFile("quick.bin", "q");
    server.setListing(
        "", marlowick_test::fileLine("slow.bin", 20000) + marlowick_test::fileLine("quick.bin", 1));
  }
  std::vector<std::string> request() const {
    return {"--host=127.0.0.1", "--port=" + std::to_string(server.port()), "--username=user",
            "--password=secret", "--local=" + target.path()};
  }

  FakeFtpServer server;
  TempDir target;
  ProgramHome home;
};

TEST_F(ProgressRun, RedirectedOutputHasNoProgress) {
  auto result = home.run(request());
  ASSERT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out,
            " Connecting 127.0.0.1 ...\n"
            " Connected to 127.0.0.1\n"
            " the encoding of ftp server is UTF8\n"
            " Downloading slow.bin 1/2 ...\n"
            " Downloading quick.bin 2/2 ...\n"
            " 2 files saved to " +
                target.path() + "/\n");
  EXPECT_EQ(testing_support::readFile(target.file("slow.bin")), std::string(20000, 's'));
}

TEST_F(ProgressRun, TerminalShowsOneLineThenErasesIt) {
  // Python's pty module gives the program a terminal and copies what it writes.
  const std::string spawn =
      "import pty, sys\n"
      "sys.exit(pty.spawn(sys.argv[1:]) >> 8)\n";
  std::vector<std::string> args{"-c", spawn, testing_support::marlowickBinary()};
  for (const std::string& arg : request()) args.push_back(arg);
  auto result = home.run(args, {}, testing_support::kSystemPython);
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  const std::string& out = result.out;
  // Drawn once the data goes on after the stall, a second and more after the start.
  const std::size_t shown = out.find("\r slow.bin  ");
  ASSERT_NE(shown, std::string::npos) << out;
  const std::size_t end = out.find('\r', shown + 1);
  const std::string line = out.substr(shown, end - shown);
  EXPECT_NE(line.find(" / 19.5 KiB  "), std::string::npos) << line;
  EXPECT_NE(line.find(" left"), std::string::npos) << line;
  // Blanked before the next message line, which starts at the line's beginning.
  const std::size_t next = out.find(" Downloading quick.bin 2/2 ...", shown);
  ASSERT_NE(next, std::string::npos);
  const std::string between = out.substr(shown, next - shown);
  EXPECT_NE(between.find("\r" + std::string(20, ' ')), std::string::npos);
  EXPECT_EQ(between.back(), '\r');
  EXPECT_EQ(home.log().find("slow.bin  "), std::string::npos) << "never logged";
  EXPECT_NE(home.log().find(" Downloading slow.bin 1/2 ..."), std::string::npos);
}

TEST_F(ProgressRun, QuietTerminalShowsOnlyErrorLines) {
  server.setReply("RETR quick.bin", "550 Permission denied.");
  const std::string spawn =
      "import pty, sys\n"
      "sys.exit(pty.spawn(sys.argv[1:]) >> 8)\n";
  std::vector<std::string> args{"-c", spawn, testing_support::marlowickBinary()};
  for (const std::string& arg : request()) args.push_back(arg);
  args.push_back("--quiet=true");
  auto result = home.run(args, {}, testing_support::kSystemPython);
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  // No Info line and no progress line although slow.bin stalls past a second; the window title,
  // set at start-up, is no line.
  const std::string title = "\x1B]0;Marlowick\a";
  const std::string out =
      result.out.starts_with(title) ? result.out.substr(title.size()) : result.out;
  EXPECT_EQ(out,
            "Download quick.bin failed: 550 Permission denied.\r\n"
            "1 file failed\r\n");
  EXPECT_EQ(testing_support::readFile(target.file("slow.bin")), std::string(20000, 's'));
  // The log is unchanged.
  EXPECT_NE(home.log().find(" Downloading slow.bin 1/2 ..."), std::string::npos);
  EXPECT_NE(home.log().find(" 1 files saved to "), std::string::npos);
}

// Every line that names a remote file shows its control bytes as \xNN, on screen and in the
// log alike; the local file keeps the name as listed.
TEST(ProgressLine, NamesWithControlBytesAreShownEscaped) {
  struct Case {
    std::string name;
    std::vector<std::string> args;
    bool localCopy;  // a file of the listed size is already there
    std::string line;
  };
  const Case cases[] = {
      {"\x1B[31mred", {}, false, " Downloading \\x1B[31mred 1/1 ..."},
      {"title\x1B]0;owned\a", {}, false, " Downloading title\\x1B]0;owned\\x07 1/1 ..."},
      {"refused\b\x7F", {}, false, "Download refused\\x08\\x7F failed: 550 No such file."},
      {"cr\rover", {}, false, "Download cr\\x0Dover failed: "},
      {"same\a", {"--overwrite=false"}, true, " Same size, skiped: same\\x07"},
      {"listed\x1B[H", {"--justPrint=true"}, false, " found listed\\x1B[H, last modified: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FakeFtpServer server;
    server.setListing("", marlowick_test::fileLine(c.name, 4));
    server.setFile(c.name, "data");
    server.setReply("RETR refused\b\x7F", "550 No such file.");
    TempDir target;
    if (c.localCopy) testing_support::writeFile(target.file(c.name), "same");
    ProgramHome home;
    std::vector<std::string> args{"--host=127.0.0.1", "--port=" + std::to_string(server.port()),
                                  "--username=user", "--password=secret",
                                  "--local=" + target.path()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto result = home.run(args);
    for (const std::string& text : {result.out, home.log()}) {
      EXPECT_NE(text.find(c.line), std::string::npos) << text;
      EXPECT_EQ(text.find_first_of("\x1B\a\b\r\x7F"), std::string::npos) << text;
    }
    const bool saved = c.line.starts_with(" Downloading");
    EXPECT_EQ(testing_support::readFile(target.file(c.name)),
              saved ? "data" : (c.localCopy ? "same" : ""));
  }
}

}  // namespace
