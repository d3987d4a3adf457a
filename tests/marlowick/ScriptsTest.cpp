// The install and the demo, as a packager or a new user meets them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>

#include "tests/support/MarlowickRun.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::ProgramHome;
using testing_support::runProcess;
using testing_support::TempDir;

// The long argument names that a text names, as "--name".
std::set<std::string> argumentNames(const std::string& text) {
  std::set<std::string> names;
  const std::regex name("--[A-Za-z0-9]+");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), name); it != std::sregex_iterator();
       ++it) {
    names.insert(it->str());
  }
  return names;
}

TEST(Scripts, InstallPutsTheProgramAndAManualPageThatAgreesWithTheHelp) {
  TempDir prefix;
  // The program lives in BUILD/bin/marlowick.
  const auto build =
      std::filesystem::path(testing_support::marlowickBinary()).parent_path().parent_path();
  auto installed =
      runProcess({"/usr/bin/cmake", "--install", build.string(), "--prefix", prefix.path()});
  ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;

  ProgramHome home;
  auto help = home.run({"help"}, {}, prefix.file("bin/marlowick"));
  ASSERT_EQ(help.exitCode, 0);
  ProcessOptions wide;
  wide.env["MANWIDTH"] = "100";
  auto page = runProcess({"/usr/bin/man", "-l", prefix.file("share/man/man1/marlowick.1")}, wide);
  ASSERT_EQ(page.exitCode, 0) << page.err;
  // Bold and underlined letters come as letter, backspace, letter.
  page.out = std::regex_replace(page.out, std::regex(".\b"), "");
  for (const char* section :
       {"SYNOPSIS", "ARGUMENTS", "COMMANDS", "FILES", "EXIT STATUS", "EXAMPLES"}) {
    EXPECT_NE(page.out.find(section), std::string::npos) << section;
  }
  EXPECT_EQ(argumentNames(page.out), argumentNames(help.out)) << page.out;
}

TEST(Scripts, DemoEndsWithStatusZeroAndLeavesNothingInTheTemporaryFolder) {
  if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no Debian python3";
  TempDir demo, temporary;
  ProgramHome home;
  ProcessOptions options;
  options.env["MARLOWICK_DEMO_BINARY"] = testing_support::marlowickBinary();
  options.env["MARLOWICK_DEMO_DIR"] = demo.path();
  options.env["TMPDIR"] = temporary.path();
  auto result = home.run({MARLOWICK_SOURCE_DIR "/scripts/demo.sh"}, options, "/bin/bash");
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("Every file matches"), std::string::npos) << result.out;
  EXPECT_TRUE(std::filesystem::is_empty(temporary.path()));
}

}  // namespace
