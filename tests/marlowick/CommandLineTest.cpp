// Whole download requests from the command line, against a real FTP server.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/MarlowickRun.h"
#include "tests/support/PyFtpServer.h"

namespace {

using testing_support::ProgramHome;
using testing_support::PyFtpServer;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

class CommandLine : public testing::Test {
 protected:
  void SetUp() override {
    writeFile(served.file("top.txt"), "top level\n");
    writeFile(served.file("sub/a.txt"), std::string(70000, 'a'));
    writeFile(served.file("sub/deeper/b.bin"), std::string("\0\1\2\r\n\xff", 7));
    writeFile(served.file("with blank.txt"), "blank");
    server = std::make_unique<PyFtpServer>(served.path());
  }
  std::vector<std::string> request(std::vector<std::string> more) {
    std::vector<std::string> args{"--host=127.0.0.1", "--port=" + std::to_string(server->port()),
                                  "--username=user", "--password=secret",
                                  "--local=" + target.path()};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  TempDir served, target;
  ProgramHome home;
  std::unique_ptr<PyFtpServer> server;
};

TEST_F(CommandLine, RecursiveDownloadIsByteForByte) {
  auto result = home.run(request({"--recurse=true"}));
  EXPECT_EQ(result.exitCode, 0);
  for (const char* name : {"top.txt", "sub/a.txt", "sub/deeper/b.bin", "with blank.txt"}) {
    EXPECT_EQ(readFile(target.file(name)), readFile(served.file(name))) << name;
  }
  std::string saved = " 4 files saved to " + target.path() + "/\n";
  EXPECT_NE(result.out.find(saved), std::string::npos) << result.out;
  EXPECT_NE(home.log().find("Info   Marlowick - " + saved), std::string::npos) << home.log();
  EXPECT_EQ(result.out.find("Error"), std::string::npos);
}

TEST_F(CommandLine, ARequestThatSavesNothingEndsAtErrorLevel) {
  auto result = home.run(request({"--include=*.none"}));
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("No files matched on remote server: 127.0.0.1\n"), std::string::npos);
  std::string saved = " 0 files saved to " + target.path() + "/";
  EXPECT_NE(home.log().find("Error  Marlowick - " + saved), std::string::npos) << home.log();
}

TEST_F(CommandLine, AnInvalidValueStopsBeforeAnyConnection) {
  auto result = home.run(request({"--port=abc", "--passive=maybe"}));
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "Invalid port number: abc\n");
}

TEST_F(CommandLine, ResponseFileWithTheRestOnTheCommandLine) {
  TempDir files;
  std::string jobs = files.file("jobs.txt");
  writeFile(jobs, "\xEF\xBB\xBF--host=127.0.0.1\r\n--port=" + std::to_string(server->port()) +
                      "\r\n--username=user\r\n\r\n\"--password=secret\"\r\n--local=" +
                      target.path() + "\r\n");
  auto result = home.run({"@" + jobs, "--include=top.txt"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(readFile(target.file("top.txt")), "top level\n");
  EXPECT_FALSE(std::filesystem::exists(target.file("with blank.txt")));
  EXPECT_NE(result.out.find(" 1 files saved to "), std::string::npos) << result.out;
}

TEST(CommandLineAlone, OneArgumentThatIsNoCommandIsARequest) {
  ProgramHome home;
  auto result = home.run({"--host=x"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "local required but was not discovered\n");
}

}  // namespace
