// The program's Windows conventions: backslash local folders, "\r\n" after every console and log
// line and inside messages, the per-user application folder, local folder levels made at "\" and
// the shortcut files' icon in the system folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "marlowick/Config.h"
#include "marlowick/Downloader.h"
#include "marlowick/Downloading.h"
#include "marlowick/HelpPages.h"
#include "marlowick/LocalFolders.h"
#include "marlowick/Logger.h"
#include "marlowick/SettingsSummary.h"
#include "marlowick/ConsoleOutput.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "tests/support/TempDir.h"
#include "tests/win32/StdoutCapture.h"
#include "util/Arguments.h"

namespace {

using testing_support::readFile;
using testing_support::TempDir;

struct Applied {
  bool accepted = false;
  marlowick::Downloader job;
  std::string console;
};

Applied apply(const std::vector<std::string>& tokens) {
  marlowick::Downloading app({"marlowick"});
  util::Arguments arguments;
  marlowick::declareRequestArguments(arguments);
  arguments.parse(tokens);
  Applied result;
  testing_support::StdoutCapture capture;
  result.accepted = app.applyArguments(result.job, arguments);
  result.console = capture.take();
  return result;
}

TEST(MarlowickWin32, LocalFolderGetsBackslashesAndEndsWithOne) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:/Data", "C:\\Data\\"},
      {"C:\\a\\b", "C:\\a\\b\\"},
      {"D:\\x\\", "D:\\x\\"},
      {"Z:/tmp/mixed\\dl/", "Z:\\tmp\\mixed\\dl\\"},
      {"\\\\host\\share", "\\\\host\\share\\"},
  };
  for (auto [given, stored] : cases) {
    Applied r = apply({std::string("--local=") + given});
    ASSERT_TRUE(r.accepted) << given;
    EXPECT_EQ(r.job.local, stored) << given;
  }
  // The remote folder is an FTP path and keeps "/".
  Applied r = apply({"--remote=\\pub\\files\\"});
  EXPECT_EQ(r.job.remote, "/pub/files");
}

TEST(MarlowickWin32, MessagesEndWithCrLfAndBreakLinesWithIt) {
  Applied r = apply({"--passive=maybe"});
  EXPECT_FALSE(r.accepted);
  EXPECT_EQ(r.console, "Invalid passive value: maybe\r\nvalid value is true or false\r\n");
}

TEST(MarlowickWin32, ConsoleAndLogLinesEndWithCrLf) {
  TempDir dir;
  marlowick::logger().openFile(dir.file("log.txt"));
  testing_support::StdoutCapture capture;
  marlowick::printAndLog(" first", true);
  marlowick::printAndLog("second", false);
  marlowick::consoleLine(" console only");
  std::string console = capture.take();
  marlowick::logger().closeFile();
  EXPECT_EQ(console, " first\r\nsecond\r\n console only\r\n");
  std::string log = readFile(dir.file("log.txt"));
  ASSERT_GE(log.size(), 2u);
  EXPECT_NE(log.find("Info   Marlowick -  first\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Error  Marlowick - second\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("console only"), std::string::npos);
  EXPECT_EQ(log.find("\n\n"), std::string::npos);
}

TEST(MarlowickWin32, ApplicationFolderIsBelowTheRoamingFolder) {
  const char* appData = std::getenv("APPDATA");
  ASSERT_NE(appData, nullptr);
  const marlowick::Config& settings = marlowick::config();
  EXPECT_EQ(settings.applicationFolder(),
            platform::applicationDataFolder() + "\\Orvendel\\Marlowick\\");
  EXPECT_EQ(settings.logPath(), settings.applicationFolder() + "log.txt");
}

TEST(MarlowickWin32, FolderLevelsAreMadeAtBackslashes) {
  TempDir dir;
  marlowick::createFoldersFor(dir.path() + "\\a\\b\\f.txt");
  EXPECT_EQ(platform::pathKind(dir.path() + "\\a"), platform::PathKind::folder);
  EXPECT_EQ(platform::pathKind(dir.path() + "\\a\\b"), platform::PathKind::folder);
  EXPECT_EQ(platform::pathKind(dir.path() + "\\a\\b\\f.txt"), platform::PathKind::missing);

  testing_support::writeFile(dir.path() + "\\taken", "x");
  try {
    marlowick::createFoldersFor(dir.path() + "\\taken\\f.txt");
    ADD_FAILURE() << "a file where a folder is needed";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()),
              "Path.createPath :: file/folder conflict: " + dir.path() + "\\taken");
  }
  try {
    marlowick::createFoldersFor(dir.path() + "\\bad*name\\f.txt");
    ADD_FAILURE() << "a folder name Windows refuses";
  } catch (const std::runtime_error& error) {
    std::string text = error.what();
    EXPECT_EQ(text.rfind(dir.path() + "\\bad*name: ", 0), 0u) << text;
    EXPECT_NE(text.back(), '\n');
  }
}

TEST(MarlowickWin32, ShortcutIconIsUrlDllInTheSystemFolder) {
  std::string content = marlowick::shortcutContent("https://x/?a");
  EXPECT_NE(content.find("\r\nIconFile=" + platform::systemFolder() + "\\url.dll\r\n"),
            std::string::npos)
      << content;
  TempDir dir;
  marlowick::writeHelpShortcutsTo(dir.path() + "\\");
  for (const char* name : {"Marlowick_Home.url", "How_to_Marlowick.url", "Command_Line_Ftp.url"}) {
    std::string written = readFile(dir.file(name));
    EXPECT_EQ(written.rfind("[DEFAULT]\r\nBASEURL=\r\n[InternetShortcut]\r\nURL=", 0), 0u) << name;
    EXPECT_NE(written.find("utm_source=shortcut"), std::string::npos) << name;
  }
}

TEST(MarlowickWin32, SettingsTableRowsEndWithCrLf) {
  marlowick::Downloader job;
  job.host = "ftp.example.org";
  job.local = "C:\\dl\\";
  std::string table = marlowick::settingsTable(job);
  EXPECT_EQ(table.rfind(" host        : ftp.example.org\r\n port        : 21\r\n", 0), 0u) << table;
  EXPECT_NE(table.find(" local       : C:\\dl\\\r\n"), std::string::npos) << table;
  ASSERT_GE(table.size(), 5u);
  EXPECT_EQ(table.substr(table.size() - 5), "0\r\n\r\n");
  std::size_t bare = 0;
  for (std::size_t i = 0; i < table.size(); ++i)
    bare += table[i] == '\n' && (i == 0 || table[i - 1] != '\r');
  EXPECT_EQ(bare, 0u);
}

TEST(MarlowickWin32, LogAndShortcutsInFoldersWithNonAsciiNames) {
  TempDir dir;
  // A user or program folder such as "José" or "日本": the C runtime's narrow calls would read
  // the UTF-8 text in the ANSI code page and miss the folder.
  const std::string folder = dir.file("Jos\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC");
  ASSERT_TRUE(platform::makeFolder(folder));
  marlowick::Logger log("Marlowick");
  log.openFile(folder + "\\log.txt");
  log.info("written");
  log.closeFile();
  EXPECT_NE(readFile(folder + "\\log.txt").find("Marlowick - written\r\n"), std::string::npos);

  marlowick::writeHelpShortcutsTo(folder + "\\");
  EXPECT_EQ(platform::pathKind(folder + "\\Marlowick_Home.url"), platform::PathKind::file);
}

}  // namespace
