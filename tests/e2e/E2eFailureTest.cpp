// A server that goes away in the middle of a job, and the one file over 2 GiB fetched whole.
#include <sys/wait.h>

#include <filesystem>

#include "tests/e2e/E2eTestSupport.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testing_support::BackgroundProcess;
using testing_support::ProgramHome;

const std::vector<std::string> kMedium = {"m1.bin", "m2.bin", "m3.bin", "m4.bin"};

std::string previousCopy(const std::string& name) { return "previous good copy of " + name + "\n"; }

using ServerStop = ServerTest;

// medium/ holds four files of 8 to 32 MiB. The server is killed, sessions and all, as soon as the
// second one is announced, so that transfer breaks off (or has just ended) and the last two
// cannot start. Every file must then be absent, complete, or the untouched previous copy.
TEST_P(ServerStop, KilledServerLeavesNoBrokenFile) {
  for (bool withPrevious : {false, true}) {
    SCOPED_TRACE(withPrevious ? "over previous copies" : "into an empty folder");
    if (withPrevious) server_ = std::make_unique<FtpServerProcess>(GetParam(), tree().root());
    testing_support::TempDir into;
    if (withPrevious) {
      for (const auto& name : kMedium)
        testing_support::writeFile(into.file(name), previousCopy(name));
    }
    ProgramHome home;
    testing_support::ProcessOptions options;
    options.env["HOME"] = home.path();
    options.env["LC_ALL"] = "C.UTF-8";
    options.unsetEnv = {"XDG_DATA_HOME"};
    std::vector<std::string> argv{testing_support::marlowickBinary()};
    // By LIST, which these servers sort by name (MLSD gives the folder's own order): m2.bin is
    // the second file.
    for (auto& arg : jobArguments(*server_, into.path(), {"--remote=/medium", "--mlsd=false"})) {
      argv.push_back(arg);
    }
    BackgroundProcess program(argv, options);
    program.readUntil(" Downloading m2.bin 2/4 ...\n", std::chrono::seconds(60));
    server_->kill();
    JobRun job;
    job.process.out = program.readUntil(" files saved to ", std::chrono::seconds(60));
    const int status = program.wait(std::chrono::seconds(30));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);

    std::size_t complete = 0;
    for (const auto& name : kMedium) {
      const std::string local = into.file(name);
      const bool isComplete = fs::exists(local) && sameBytes(tree().file("medium/" + name), local);
      complete += isComplete ? 1 : 0;
      if (isComplete || !fs::exists(local)) continue;
      EXPECT_TRUE(withPrevious) << name << " is there but broken";
      EXPECT_EQ(testing_support::readFile(local), previousCopy(name)) << name;
    }
    EXPECT_TRUE(sameBytes(tree().file("medium/m1.bin"), into.file("m1.bin")));
    // Nothing but the four names is left behind: no partial file under another name.
    EXPECT_EQ(
        filesBelow(into.path()), withPrevious ? FileSet(kMedium.begin(), kMedium.end()) : [&] {
          FileSet there;
          for (const auto& name : kMedium) {
            if (fs::exists(into.file(name))) there.insert(name);
          }
          return there;
        }());
    // The transfers after the stop fail one by one, and the job still comes to its end.
    const auto failed = job.failed();
    for (const char* name : {"m3.bin", "m4.bin"}) {
      EXPECT_NE(std::find(failed.begin(), failed.end(), name), failed.end()) << name << "\n"
                                                                             << job.process.out;
    }
    const std::string saved =
        " " + std::to_string(complete) + " files saved to " + into.path() + "/";
    EXPECT_NE(job.process.out.find(saved), std::string::npos) << job.process.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerStop, E2E_ALL_SERVERS, ServerNames());

// Fetched from one server only, to keep the run short; every server's listing of its size is
// checked in list mode.
using HugeDownload = ServerTest;

TEST_P(HugeDownload, FileOver2GiBArrivesWhole) {
  auto job =
      runJob(*server_, local(), {"--remote=/big", "--include=huge.bin"}, std::chrono::minutes(4));
  const std::string local = this->local() + "/huge.bin";
  ASSERT_TRUE(fs::exists(local)) << job.process.out;
  EXPECT_EQ(fs::file_size(local), tree().at(kHugeFile).size);
  EXPECT_TRUE(sameBytes(tree().file(kHugeFile), local));
  EXPECT_TRUE(job.printed(savedLine(1))) << job.process.out;
}

INSTANTIATE_TEST_SUITE_P(OneServer, HugeDownload, ::testing::Values(ServerKind::vsftpd),
                         ServerNames());

}  // namespace
}  // namespace e2e
