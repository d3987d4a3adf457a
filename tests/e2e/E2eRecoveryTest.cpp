// A job that outlives its server, and a run killed in the middle of a file, then run again.
#include <sys/wait.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

#include "tests/e2e/E2eTestSupport.h"
#include "tests/support/RandomBytes.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::BackgroundProcess;
using testing_support::ProcessOptions;
using testing_support::ProgramHome;
using testing_support::TempDir;

// pyftpdlib with what tests/support/pyftpd.py does not offer: a port of the caller's choosing
// (0: any), so that a restarted server comes back where the client left it; a cap on the bytes
// sent per second (0: none); and a log of every command received.
constexpr const char* kServerScript = R"(import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer
root, port, limit, commands = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
logging.basicConfig(level=logging.CRITICAL)
class Handler(FTPHandler):
    def pre_process_command(self, line, cmd, arg):
        with open(commands, "a") as log:
            log.write(line + "\n")
        super().pre_process_command(line, cmd, arg)
class Throttled(ThrottledDTPHandler):
    write_limit = limit
Handler.authorizer = DummyAuthorizer()
Handler.authorizer.add_user("user", "secret", root, perm="elr")
if limit:
    Handler.dtp_handler = Throttled
server = FTPServer(("127.0.0.1", port), Handler)
print(server.address[1], flush=True)
server.serve_forever(timeout=0.5)
)";

/// True once `done` holds, polled for at most `limit`.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class Recovery : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::writeFile(work_.file("server.py"), kServerScript); }

  /// Starts the script serving `root`; its port is port_ from then on.
  std::unique_ptr<BackgroundProcess> serve(const std::string& root, int port = 0,
                                           int bytesPerSecond = 0) {
    auto server = std::make_unique<BackgroundProcess>(std::vector<std::string>{
        testing_support::kSystemPython, work_.file("server.py"), root, std::to_string(port),
        std::to_string(bytesPerSecond), commandLog()});
    port_ = std::stoi(server->readLine(10s));
    return server;
  }
  std::string commandLog() const { return work_.file("commands.log"); }
  /// The offsets of the REST commands the server received.
  std::vector<std::uint64_t> restOffsets() const {
    std::vector<std::uint64_t> offsets;
    std::istringstream lines(testing_support::readFile(commandLog()));
    for (std::string line; std::getline(lines, line);) {
      if (startsWith(line, "REST ")) offsets.push_back(std::stoull(line.substr(5)));
    }
    return offsets;
  }

  std::vector<std::string> arguments(const std::string& local,
                                     std::vector<std::string> extra = {}) const {
    std::vector<std::string> args{"--host=127.0.0.1", "--port=" + std::to_string(port_),
                                  "--username=user",  "--password=secret",
                                  "--local=" + local, "--recurse=true",
                                  "--timeout=10"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  ProcessOptions programOptions() const {
    ProcessOptions options;
    options.env = {{"HOME", home_.path()}, {"LC_ALL", "C.UTF-8"}};
    options.unsetEnv = {"XDG_DATA_HOME"};
    options.timeout = 120s;
    return options;
  }

  TempDir work_;
  TempDir local_;
  ProgramHome home_;
  int port_ = 0;
};

// The server is killed once 20 files have arrived and comes back on the same port 2 s later,
// within the default three tries (pauses of 1, 2 and 4 s).
TEST_F(Recovery, ServerRestartedMidJobEveryFileArrives) {
  const std::string root = ServedTree::get().file("bulk");
  FileSet expected;  // g00 to g02: 270 files of up to 5,000 bytes
  for (const auto& name : filesBelow(root)) {
    if (name.compare(0, 3, "g03") < 0) expected.insert(name);
  }
  auto server = serve(root);
  auto job = std::async(std::launch::async, [&] {
    return home_.run(arguments(local_.path(), {"--include=g00/*|g01/*|g02/*"}), programOptions());
  });
  ASSERT_TRUE(waitFor([&] { return filesBelow(local_.path()).size() >= 20; }, 30s));
  server->kill(SIGKILL);
  ASSERT_NE(server->wait(5s), -1);
  server.reset();
  std::this_thread::sleep_for(2s);
  // The old sessions' sockets may hold the port a moment longer.
  for (int attempt = 0; !server && attempt < 5; ++attempt) {
    try {
      server = serve(root, port_);
    } catch (const std::exception&) {
      std::this_thread::sleep_for(200ms);
    }
  }
  ASSERT_TRUE(server) << "port " << port_ << " could not be bound again";

  const auto result = job.get();
  ASSERT_FALSE(result.timedOut) << result.out;
  EXPECT_EQ(result.exitCode, 0);
  const std::string log = home_.log();
  EXPECT_NE(result.out.find(" Reconnected to 127.0.0.1"), std::string::npos) << result.out;
  EXPECT_NE(log.find(" Reconnected to 127.0.0.1"), std::string::npos) << log;
  EXPECT_NE(result.out.find(" " + std::to_string(expected.size()) + " files saved to " +
                            local_.path() + "/\n"),
            std::string::npos)
      << result.out;
  // Also proves that no part file is left.
  EXPECT_EQ(filesBelow(local_.path()), expected);
  for (const auto& name : expected) {
    EXPECT_TRUE(sameBytes(root + "/" + name, local_.file(name))) << name;
  }
}

// A run killed (SIGKILL, as a time limit of cron or systemd does) leaves one part file; the next
// run continues it from its size with --resume=true, and fetches the file afresh without.
TEST_F(Recovery, KilledRunLeavesPartFileThatTheNextRunContinuesOnlyWhenAsked) {
  TempDir served;
  const std::string big = served.file("big.bin");
  testing_support::writeFile(big, testing_support::randomBytes(32 << 20));
  for (const bool resume : {true, false}) {
    SCOPED_TRACE(resume ? "--resume=true" : "--resume=false");
    TempDir local;
    const std::string part = local.file(".big.bin.marlowick-part");
    {
      // At 4 MiB a second the file is still seconds from its end when its first bytes land.
      auto slow = serve(served.path(), 0, 4 << 20);
      std::vector<std::string> argv{testing_support::marlowickBinary()};
      for (auto& arg : arguments(local.path())) argv.push_back(arg);
      BackgroundProcess program(argv, programOptions());
      ASSERT_TRUE(waitFor(
          [&] {
            std::error_code error;
            const auto size = fs::file_size(part, error);
            return !error && size > 0;
          },
          20s));
      program.kill(SIGKILL);
      ASSERT_NE(program.wait(5s), -1);
    }
    ASSERT_EQ(filesBelow(local.path()), FileSet{".big.bin.marlowick-part"});
    const std::uint64_t kept = fs::file_size(part);
    ASSERT_LT(kept, fs::file_size(big));

    fs::remove(commandLog());
    auto fast = serve(served.path());
    const auto result = home_.run(
        arguments(local.path(), {resume ? "--resume=true" : "--resume=false"}), programOptions());
    ASSERT_FALSE(result.timedOut);
    EXPECT_NE(result.out.find(" 1 files saved to " + local.path() + "/\n"), std::string::npos)
        << result.out;
    EXPECT_EQ(restOffsets(),
              resume ? std::vector<std::uint64_t>{kept} : std::vector<std::uint64_t>{});
    EXPECT_EQ(filesBelow(local.path()), FileSet{"big.bin"});
    EXPECT_TRUE(sameBytes(big, local.file("big.bin")));
  }
}

}  // namespace
}  // namespace e2e
