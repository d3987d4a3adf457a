// "log", "man" and "home" hand a path or address to the desktop's open action, never waiting.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "marlowick/Config.h"
#include "marlowick/HelpPages.h"
#include "tests/support/MarlowickRun.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::ProgramHome;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

// A stand-in for xdg-open that records what it was asked to open.
class FakeOpener {
 public:
  FakeOpener() {
    writeFile(bin.file("xdg-open"), "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" +
                                        bin.file("opened") + "'\n");
    ::chmod(bin.file("xdg-open").c_str(), 0755);
  }
  // What was opened, waiting a bounded time for the detached opener to write it.
  std::string opened() const {
    for (int i = 0; i < 100 && readFile(bin.file("opened")).empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return readFile(bin.file("opened"));
  }
  ProcessOptions options() const {
    ProcessOptions options;
    options.env["PATH"] = bin.path() + ":/usr/bin:/bin";
    return options;
  }
  TempDir bin;
};

TEST(OpenPages, CommandWordsOpenTheirPageWithTheCmdSource) {
  const marlowick::Config& config = marlowick::config();
  const std::pair<const char*, std::string> cases[] = {
      {"home", marlowick::pageAddress(config.homePageAddress(), "cmd", false)},
      {"HOME", marlowick::pageAddress(config.homePageAddress(), "cmd", false)},
      {"--man", marlowick::pageAddress(config.howToPageAddress(), "cmd", false)},
  };
  for (const auto& [word, address] : cases) {
    FakeOpener opener;
    ProgramHome home;
    auto result = home.run({word}, opener.options());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "") << word;
    EXPECT_EQ(opener.opened(), address + "\n") << word;
    EXPECT_NE(address.find("?utm_source=cmd"), std::string::npos);
  }
}

TEST(OpenPages, LogOpensTheLogFile) {
  FakeOpener opener;
  ProgramHome home;
  auto result = home.run({"log"}, opener.options());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(opener.opened(), home.logPath() + "\n");
}

// A machine without a desktop: no opener, or one that fails at once, as xdg-open does there.
TEST(OpenPages, WithoutAWorkingOpenerThePathOrAddressIsPrinted) {
  const marlowick::Config& config = marlowick::config();
  const std::string home = marlowick::pageAddress(config.homePageAddress(), "cmd", false);
  for (const char* opener : {"", "#!/bin/sh\necho 'no method available' >&2\nexit 3\n"}) {
    TempDir bin;
    ProgramHome place;
    ProcessOptions options;
    options.env["PATH"] = bin.path();
    if (*opener != '\0') {
      writeFile(bin.file("xdg-open"), opener);
      ::chmod(bin.file("xdg-open").c_str(), 0755);
      options.env["PATH"] = bin.path() + ":/usr/bin:/bin";
    }
    auto result = place.run({"home"}, options);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, home + "\n") << opener;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(place.run({"log"}, options).out, place.logPath() + "\n") << opener;
  }
}

}  // namespace
