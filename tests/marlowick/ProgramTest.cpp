// The program as a process: start-up, the log file, exit statuses and console events.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "tests/support/MarlowickRun.h"

namespace {

using testing_support::BackgroundProcess;
using testing_support::ProcessOptions;
using testing_support::ProgramHome;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

// A copy of the program in a folder of its own, so its shortcut files can be watched.
class ProgramCopy {
 public:
  ProgramCopy() {
    std::filesystem::copy_file(testing_support::marlowickBinary(), path());
  }
  std::string path() const { return dir_.file("marlowick"); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& folder() const { return dir_.path(); }

 private:
  TempDir dir_;
};

// A file in the application folder, beside the log.
std::string besideLog(const ProgramHome& home, const std::string& name) {
  return std::filesystem::path(home.logPath()).replace_filename(name).string();
}

int lineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(Program, StartUpMakesTheApplicationFolderAndLogsEachMessage) {
  ProgramHome home;
  auto result = home.run({"--host=x"});
  EXPECT_EQ(result.exitCode, 0);
  std::string log = home.log();
  ASSERT_FALSE(log.empty()) << result.out;
  // Every console line of the request is also in the log, with time and level.
  std::regex line("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2},\\d{3} (Info  |Error ) Marlowick - .*");
  std::istringstream lines(log);
  for (std::string each; std::getline(lines, each);) {
    EXPECT_TRUE(std::regex_match(each, line)) << each;
    std::string message = each.substr(each.find(" - ") + 3);
    EXPECT_NE(result.out.find(message + "\n"), std::string::npos) << message;
  }
}

TEST(Program, XdgDataHomeWinsOverHome) {
  ProgramHome home;
  TempDir data;
  ProcessOptions options;
  options.env["XDG_DATA_HOME"] = data.path();
  std::vector<std::string> argv{testing_support::marlowickBinary(), "--host=x"};
  options.env["HOME"] = home.path();
  auto result = testing_support::runProcess(argv, options);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_FALSE(readFile(data.file("Orvendel/Marlowick/log.txt")).empty());
}

TEST(Program, OversizedLogIsStartedAfreshAndOneAtTheLimitIsKept) {
  for (size_t size : {512001u, 512000u}) {
    ProgramHome home;
    writeFile(home.logPath(), std::string(size - 1, 'x') + "\n");
    auto result = home.run({"--host=x"});
    EXPECT_EQ(result.exitCode, 0);
    std::string log = home.log();
    if (size > 512000) {
      EXPECT_EQ(log.find("xxx"), std::string::npos);
      EXPECT_GT(log.size(), 0u);
      EXPECT_EQ(readFile(home.logPath() + ".1").size(), size) << "the old log is kept";
    } else {
      EXPECT_EQ(log.substr(0, size), std::string(size - 1, 'x') + "\n");
      EXPECT_GT(log.size(), size);
    }
  }
}

TEST(Program, StartUpFailuresGiveOneLineAndStatusOne) {
  struct Case {
    const char* what;
    std::function<void(const ProgramHome&, ProcessOptions&)> prepare;
    const char* reasonStart;
  };
  const Case cases[] = {
      {"no home at all",
       [](const ProgramHome&, ProcessOptions& o) {
         o.env.erase("HOME");
         o.unsetEnv = {"HOME", "XDG_DATA_HOME"};
       },
       "getSpecialPath :: "},
      {"a file where the application folder goes",
       [](const ProgramHome& h, ProcessOptions& o) {
         writeFile(h.path() + "/data/Orvendel", "x");
         o.env["XDG_DATA_HOME"] = h.path() + "/data";
       },
       "Unable to create the application folder "},
      {"the log path is a folder",
       [](const ProgramHome& h, ProcessOptions&) {
         std::filesystem::create_directories(h.logPath());
       },
       "Unable to open the log "},
  };
  for (const Case& c : cases) {
    ProgramHome home;
    ProcessOptions options;
    options.env["HOME"] = home.path();
    options.unsetEnv = {"XDG_DATA_HOME"};
    c.prepare(home, options);
    auto result = testing_support::runProcess({testing_support::marlowickBinary(), "help"},
                                              options);
    EXPECT_EQ(result.exitCode, 1) << c.what;
    EXPECT_EQ(lineCount(result.out), 1) << c.what << ": " << result.out;
    EXPECT_EQ(result.out.rfind(c.reasonStart, 0), 0u) << c.what << ": " << result.out;
  }
}

TEST(Program, AClosedStandardOutputNeverSendsTheConsoleIntoTheLog) {
  ProgramHome home;
  // The shell closes descriptor 1 before the program starts, as "marlowick >&-" does.
  auto result =
      home.run({"-c", "exec \"$0\" \"$@\" >&-", testing_support::marlowickBinary(), "version"}, {},
               "/bin/sh");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(home.log().find("Marlowick 1"), std::string::npos) << home.log();
}

TEST(Program, AReaderThatGoesAwayDoesNotEndTheRun) {
  ProgramHome home;
  // 300 typed requests, each answered with a line; the reader is gone before the first of them
  // arrives, so every answer is written into a pipe nobody reads.
  auto result = home.run({"-c",
                          "{ sleep 0.5; for i in $(seq 300); do echo \"--host=h$i\"; done; } | "
                          "\"$0\" | true; echo \"${PIPESTATUS[1]}\"",
                          testing_support::marlowickBinary()},
                         {}, "/bin/bash");
  EXPECT_EQ(result.out, "0\n");
  std::string log = home.log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 300) << log;
}

TEST(Program, ALogThatIsALinkToTheNullDeviceSilencesTheLog) {
  ProgramHome home;
  std::filesystem::create_directories(home.path() + "/.local/share/Orvendel/Marlowick");
  std::filesystem::create_symlink("/dev/null", home.logPath());
  auto result = home.run({"help"});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_NE(result.out.find("--maxfolders"), std::string::npos) << result.out;
  // The manual can only say where a log usually is: help names this user's.
  EXPECT_NE(result.out.find("\nLog file: " + home.logPath() + "\n"), std::string::npos);
}

TEST(Program, ALogFifoWithoutAReaderFailsAtOnce) {
  ProgramHome home;
  std::filesystem::create_directories(home.path() + "/.local/share/Orvendel/Marlowick");
  ASSERT_EQ(::mkfifo(home.logPath().c_str(), 0600), 0);
  ProcessOptions options;
  options.timeout = std::chrono::seconds(10);
  auto result = home.run({"help"}, options);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out.rfind("Unable to open the log ", 0), 0u) << result.out;
}

// Root writes into read-only folders: such runs go through an unprivileged user.
struct Unprivileged {
  std::vector<std::string> args(std::vector<std::string> more) const {
    if (::geteuid() != 0) return more;
    std::vector<std::string> all{"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                 program};
    all.insert(all.end(), more.begin(), more.end());
    return all;
  }
  std::string runner() const { return ::geteuid() == 0 ? "/usr/bin/setpriv" : program; }
  std::string program;
};

TEST(Program, UnwritableApplicationFolderGivesStatusOne) {
  ProgramCopy program;
  ProgramHome home;
  ::chmod(program.folder().c_str(), 0755);
  ::chmod(home.path().c_str(), 0777);
  std::filesystem::create_directories(home.path() + "/.local/share");
  ::chmod((home.path() + "/.local").c_str(), 0777);
  ::chmod((home.path() + "/.local/share").c_str(), 0555);
  Unprivileged as{.program = program.path()};
  auto result = home.run(as.args({"help"}), {}, as.runner());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find("Permission denied"), std::string::npos) << result.out;
}

TEST(Program, CommandWordsAsTheOnlyArgument) {
  ProgramHome home;
  for (const char* word : {"-?", "--HELP", "help", "?", "-help"}) {
    auto result = home.run({word});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("--maxfolders"), std::string::npos) << word;
    EXPECT_EQ(result.out.find("main catch"), std::string::npos) << word;
  }
  auto version = home.run({"version"});
  EXPECT_EQ(version.out.rfind("Marlowick ", 0), 0u) << version.out;
}

// An installed program's folder is not the user's: the shortcut files go beside the log.
TEST(Program, ShortcutsAreWrittenBesideTheLogAtTheEnd) {
  ProgramCopy program;
  ProgramHome home;
  auto result = home.run({"version"}, {}, program.path());
  EXPECT_EQ(result.exitCode, 0);
  for (const char* name : {"Marlowick_Home.url", "How_to_Marlowick.url", "Command_Line_Ftp.url"}) {
    EXPECT_EQ(readFile(besideLog(home, name)).rfind("[DEFAULT]\r\n", 0), 0u) << name;
    EXPECT_FALSE(std::filesystem::exists(program.file(name))) << name;
  }
}

TEST(Program, ReadOnlyApplicationFolderIsReportedAsMainCatch) {
  ProgramCopy program;
  ProgramHome home;
  ::chmod(home.path().c_str(), 0777);
  writeFile(home.logPath(), "");
  ::chmod(home.logPath().c_str(), 0666);
  const std::string folder = besideLog(home, "");
  ::chmod(folder.c_str(), 0555);
  Unprivileged as{.program = program.path()};
  auto result = home.run(as.args({"version"}), {}, as.runner());
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("main catch " + besideLog(home, "Marlowick_Home.url") +
                            ": Permission denied\n"),
            std::string::npos)
      << result.out;
}

// Starts the program at its prompt with standard input held open.
std::unique_ptr<BackgroundProcess> startAtPrompt(const ProgramHome& home,
                                                 const std::string& binary) {
  ProcessOptions options;
  options.env["HOME"] = home.path();
  options.env["LC_ALL"] = "C.UTF-8";
  options.unsetEnv = {"XDG_DATA_HOME"};
  options.holdInput = true;
  auto process = std::make_unique<BackgroundProcess>(std::vector<std::string>{binary}, options);
  process->readUntil(" Marlowick>");
  return process;
}

TEST(Program, CtrlCWritesShortcutsAndTheRunGoesOn) {
  ProgramCopy program;
  ProgramHome home;
  auto process = startAtPrompt(home, program.path());
  process->kill(SIGINT);
  // The handler runs on its own thread; give it a bounded moment.
  for (int i = 0; i < 100 && readFile(besideLog(home, "Command_Line_Ftp.url")).empty(); ++i) {
    usleep(20000);
  }
  EXPECT_FALSE(readFile(besideLog(home, "Command_Line_Ftp.url")).empty());
  EXPECT_EQ(process->wait(std::chrono::milliseconds(300)), -1) << "still running";
  process->writeInput("exit\n");
  int status = process->wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Program, TerminationEndsTheProcessAfterTheHandlerRan) {
  ProgramCopy program;
  ProgramHome home;
  auto process = startAtPrompt(home, program.path());
  process->kill(SIGTERM);
  int status = process->wait();
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_FALSE(readFile(besideLog(home, "Marlowick_Home.url")).empty());
}

}  // namespace
