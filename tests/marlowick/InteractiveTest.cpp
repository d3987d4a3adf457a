// The prompt as a user meets it: typed lines from piped standard input, and once on a real
// terminal through tmux.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/MarlowickRun.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::ProgramHome;

constexpr const char* kPrompt = " Marlowick>";

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string typed(const ProgramHome& home, const std::string& input) {
  ProcessOptions options;
  options.input = input;
  auto result = home.run({}, options);
  EXPECT_EQ(result.exitCode, 0) << result.out;
  return result.out;
}

TEST(Interactive, BannerPromptAndExitWords) {
  ProgramHome home;
  for (const char* exitLine : {"quit\n", "exit\n", "  exit\n", "please quit\n"}) {
    std::string out = typed(home, exitLine);
    EXPECT_EQ(out.rfind("Marlowick ", 0), 0u) << out;
    EXPECT_EQ(count(out, kPrompt), 1) << exitLine;
    EXPECT_EQ(out.find("required"), std::string::npos) << exitLine;
  }
}

TEST(Interactive, EmptyAndBlankLinesOnlyPromptAgain) {
  ProgramHome home;
  std::string out = typed(home, "\n   \n\t\nexit\n");
  std::string banner = out.substr(0, out.find(kPrompt));
  EXPECT_EQ(out, banner + kPrompt + kPrompt + kPrompt + kPrompt);
}

TEST(Interactive, CapitalisedExitRunsAsARequest) {
  ProgramHome home;
  std::string out = typed(home, "Exit\nquit\n");
  EXPECT_NE(out.find("host required but was not discovered\n"), std::string::npos) << out;
  EXPECT_NE(home.log().find("Error  Marlowick - host required but was not discovered"),
            std::string::npos);
}

TEST(Interactive, ALineEndingInQuitIsNeverRun) {
  ProgramHome home;
  std::string out = typed(home, "--host=x --remote=/quit\n--host=never\n");
  EXPECT_EQ(out.find("required"), std::string::npos) << out;
  EXPECT_EQ(count(out, kPrompt), 1);
}

TEST(Interactive, TheLastLineBeforeTheEndOfInputIsHandled) {
  ProgramHome home;
  std::string out = typed(home, "help\n--host=x");
  EXPECT_NE(out.find("--maxfolders"), std::string::npos);
  EXPECT_NE(out.find("local required but was not discovered\n"), std::string::npos) << out;
  EXPECT_EQ(count(out, kPrompt), 2);
}

TEST(Interactive, EachRequestStartsFromTheDefaults) {
  ProgramHome home;
  std::string out = typed(home, "--host=a --username=u --password=p --local=" + home.path() +
                                    " --port=abc\n--host=b\n");
  EXPECT_NE(out.find("Invalid port number: abc\n"), std::string::npos) << out;
  EXPECT_NE(out.find("local required but was not discovered\n"), std::string::npos) << out;
}

TEST(Interactive, CommandWordsAtThePrompt) {
  ProgramHome home;
  std::string out = typed(home, "-?\nversion\nexit\n");
  EXPECT_NE(out.find("--maxfolders"), std::string::npos);
  EXPECT_EQ(count(out, "Marlowick 1"), 2) << out;  // banner at start and for "version"
}

// tmux drives the real prompt on a terminal, as a person would type at it.
class Tmux {
 public:
  Tmux() : socket_("marlowick-test-" + std::to_string(::getpid())) {}
  ~Tmux() { run({"kill-server"}); }
  testing_support::ProcessResult run(std::vector<std::string> args) {
    // -u: the terminal carries UTF-8 whatever the test's own locale.
    args.insert(args.begin(), {"/usr/bin/tmux", "-u", "-L", socket_});
    return testing_support::runProcess(args);
  }
  std::string screen() { return run({"capture-pane", "-p", "-t", "t"}).out; }
  bool waitFor(const std::string& text) {
    for (int i = 0; i < 200; ++i) {
      if (screen().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  std::string socket_;
};

TEST(Interactive, RealTerminalWithLineEditing) {
  if (::access("/usr/bin/tmux", X_OK) != 0) GTEST_SKIP() << "tmux is not installed";
  ProgramHome home;
  Tmux tmux;
  std::string command = "env HOME=" + home.path() + " LC_ALL=C.UTF-8 " +
                        testing_support::marlowickBinary();
  ASSERT_EQ(tmux.run({"new-session", "-d", "-s", "t", "-x", "120", "-y", "30", command}).exitCode,
            0);
  ASSERT_TRUE(tmux.waitFor(kPrompt)) << tmux.screen();
  // Type "--hist=x", move left over "=x", rub out the "t", and send: the line is "--his=x".
  tmux.run({"send-keys", "-t", "t", "-l", "--", "--hist=x"});
  tmux.run({"send-keys", "-t", "t", "Left", "Left", "BSpace", "Enter"});
  ASSERT_TRUE(tmux.waitFor("host required but was not discovered")) << tmux.screen();
  // Up brings the line back.
  tmux.run({"send-keys", "-t", "t", "Up", "Enter"});
  for (int i = 0; i < 200 && count(tmux.screen(), "host required") < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::string screen = tmux.screen();
  EXPECT_EQ(count(screen, "host required but was not discovered"), 2) << screen;
  EXPECT_NE(screen.find(" Marlowick>--his=x"), std::string::npos) << screen;
  tmux.run({"send-keys", "-t", "t", "exit", "Enter"});
  for (int i = 0; i < 100; ++i) {
    if (tmux.run({"has-session", "-t", "t"}).exitCode != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_NE(tmux.run({"has-session", "-t", "t"}).exitCode, 0) << "the program ended";
}

// Letters beyond ASCII typed on a terminal reach the request whole, under a UTF-8 locale and
// under the C locale alike.
TEST(Interactive, NonAsciiLettersTypedOnATerminalArriveWhole) {
  if (::access("/usr/bin/tmux", X_OK) != 0) GTEST_SKIP() << "tmux is not installed";
  for (const char* locale : {"C.UTF-8", "C"}) {
    SCOPED_TRACE(locale);
    ProgramHome home;
    Tmux tmux;
    std::string command =
        "env HOME=" + home.path() + " LC_ALL=" + locale + " " + testing_support::marlowickBinary();
    ASSERT_EQ(tmux.run({"new-session", "-d", "-s", "t", "-x", "120", "-y", "30", command}).exitCode,
              0);
    ASSERT_TRUE(tmux.waitFor(kPrompt)) << tmux.screen();
    const std::string folder = home.path() + "/Zo\xC3\xAB-\xC3\xBC";
    tmux.run({"send-keys", "-t", "t", "-l", "--",
              "--host=h --username=u --password=p --local=" + folder});
    tmux.run({"send-keys", "-t", "t", "Enter"});
    ASSERT_TRUE(tmux.waitFor("Specified path does not exists")) << tmux.screen();
    EXPECT_NE(home.log().find("Specified path does not exists: " + folder + "\n"),
              std::string::npos)
        << home.log();
    tmux.run({"send-keys", "-t", "t", "exit", "Enter"});
  }
}

}  // namespace
