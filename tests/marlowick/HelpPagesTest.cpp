#include "marlowick/HelpPages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "marlowick/Config.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

TEST(HelpPages, AddressSeparatorAndQuery) {
  EXPECT_EQ(marlowick::pageAddress("http://h/p", "cmd", false),
            "http://h/p?" + marlowick::pageQuery("cmd"));
  EXPECT_EQ(marlowick::pageAddress("http://h/p?a=1", "cmd", false),
            "http://h/p?a=1&" + marlowick::pageQuery("cmd"));
  EXPECT_EQ(marlowick::pageAddress("http://h/p?a=1", "shortcut", true),
            "http://h/p?a=1?" + marlowick::pageQuery("shortcut"));
  std::string query = marlowick::pageQuery("cmd");
  EXPECT_NE(query.find("cmd"), std::string::npos);
  EXPECT_EQ(query.find(' '), std::string::npos);
}

TEST(HelpPages, ShortcutContentLineByLine) {
  EXPECT_EQ(marlowick::shortcutContent("http://x/?q"),
            "[DEFAULT]\r\nBASEURL=\r\n[InternetShortcut]\r\nURL=http://x/?q\r\n"
            "WorkingDirectory=\r\nShowCommand=3\r\nIconFile=\r\nIconIndex=1\r\nModified=\r\n"
            "HotKey=");
}

TEST(HelpPages, ShortcutsAreWrittenOnlyWhereMissing) {
  TempDir dir;
  std::string folder = dir.path() + "/";
  marlowick::writeHelpShortcutsTo(folder);
  const char* names[] = {"Marlowick_Home.url", "How_to_Marlowick.url", "Command_Line_Ftp.url"};
  for (const char* name : names) {
    EXPECT_EQ(readFile(folder + name).rfind("[DEFAULT]\r\n", 0), 0u) << name;
  }
  EXPECT_NE(readFile(folder + "Marlowick_Home.url")
                .find("URL=" + marlowick::pageAddress(marlowick::config().homePageAddress(),
                                                      "shortcut", true) +
                      "\r\n"),
            std::string::npos);

  writeFile(folder + "Marlowick_Home.url", "edited by the user");
  std::remove((folder + "How_to_Marlowick.url").c_str());
  std::string untouched = readFile(folder + "Command_Line_Ftp.url");
  marlowick::writeHelpShortcutsTo(folder);
  EXPECT_EQ(readFile(folder + "Marlowick_Home.url"), "edited by the user");
  EXPECT_EQ(readFile(folder + "How_to_Marlowick.url").rfind("[DEFAULT]", 0), 0u);
  EXPECT_EQ(readFile(folder + "Command_Line_Ftp.url"), untouched);
}

TEST(HelpPages, AFolderThatCannotTakeTheFileRaisesTheReason) {
  TempDir dir;
  std::string folder = dir.path() + "/missing/";
  try {
    marlowick::writeHelpShortcutsTo(folder);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), folder + "Marlowick_Home.url: No such file or directory");
  }
}

}  // namespace
