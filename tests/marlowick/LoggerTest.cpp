#include "marlowick/Logger.h"

#include <gtest/gtest.h>

#include <regex>

#include "tests/support/TempDir.h"

namespace {

using marlowick::LogLevel;
using testing_support::readFile;
using testing_support::TempDir;

TEST(Logger, LinePrefixLayout) {
  EXPECT_EQ(marlowick::logLinePrefix(2026, 12, 8, 9, 5, 7, 4, LogLevel::info, "Marlowick"),
            "2026-12-08 09:05:07,004 Info   Marlowick - ");
  EXPECT_EQ(marlowick::logLinePrefix(2026, 1, 31, 23, 59, 59, 999, LogLevel::error, "Marlowick"),
            "2026-01-31 23:59:59,999 Error  Marlowick - ");
}

TEST(Logger, LevelNamesArePaddedToSix) {
  const std::pair<LogLevel, const char*> names[] = {
      {LogLevel::trace, "Trace "}, {LogLevel::info, "Info  "},  {LogLevel::warn, "Warn  "},
      {LogLevel::error, "Error "}, {LogLevel::fatal, "Fatal "}, {LogLevel::none, "None  "}};
  for (auto [level, name] : names) EXPECT_EQ(marlowick::levelName(level), name);
}

TEST(Logger, WritesMessagesUnchangedOneLineEach) {
  TempDir dir;
  marlowick::Logger log("Marlowick");
  log.openFile(dir.file("log.txt"));
  log.info("plain");
  log.error("braces {} and %1 and {0} stay");
  log.info("");
  log.log(LogLevel::trace, "below the threshold");
  log.closeFile();

  std::string content = readFile(dir.file("log.txt"));
  std::regex layout(
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2},\\d{3} Info   Marlowick - plain\n"
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2},\\d{3} Error  Marlowick - braces \\{\\} and %1 "
      "and \\{0\\} stay\n"
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2},\\d{3} Info   Marlowick - \n");
  EXPECT_TRUE(std::regex_match(content, layout)) << content;
}

TEST(Logger, AppendsToAnExistingFile) {
  TempDir dir;
  testing_support::writeFile(dir.file("log.txt"), "earlier line\n");
  marlowick::Logger log("Marlowick");
  log.openFile(dir.file("log.txt"));
  log.info("new");
  log.closeFile();
  std::string content = readFile(dir.file("log.txt"));
  EXPECT_EQ(content.rfind("earlier line\n", 0), 0u);
  EXPECT_NE(content.find(" - new\n"), std::string::npos);
}

TEST(Logger, OpeningAFolderFailsWithTheReason) {
  TempDir dir;
  marlowick::Logger log("Marlowick");
  try {
    log.openFile(dir.path());
    FAIL() << "a folder cannot be a log";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("Is a directory"), std::string::npos) << e.what();
  }
}

}  // namespace
