// The file calls of the Windows layer: wide names from UTF-8 texts, backslash paths, drive
// prefixes and the system's own error texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/Files.h"
#include "tests/support/TempDir.h"

namespace {

using std::string_literals::operator""s;

using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

bool endsWithLineEnd(const std::string& text) {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

TEST(FilesWin32, KindsAndSizes) {
  TempDir dir;
  writeFile(dir.file("file.bin"), std::string(70000, 'x'));
  EXPECT_EQ(platform::pathKind(dir.file("file.bin")), platform::PathKind::file);
  EXPECT_EQ(platform::pathKind(dir.path()), platform::PathKind::folder);
  EXPECT_EQ(platform::pathKind(dir.path() + "\\"), platform::PathKind::folder);
  EXPECT_EQ(platform::pathKind(dir.file("missing")), platform::PathKind::missing);
  EXPECT_EQ(platform::pathKind("C:"), platform::PathKind::folder);
  EXPECT_EQ(platform::fileSize(dir.file("file.bin")), 70000u);
  EXPECT_EQ(platform::fileSize(dir.file("missing")), std::nullopt);
}

TEST(FilesWin32, NonAsciiNamesReachTheFileSystemAsTheSameName) {
  TempDir dir;
  const std::string folder = dir.file("caf\xC3\xA9 \xE6\x97\xA5");  // "café 日"
  std::string error;
  ASSERT_TRUE(platform::makeFolder(folder, &error)) << error;
  const std::wstring wide = std::wstring(L"caf\u00e9 \u65e5");
  WIN32_FIND_DATAW found{};
  std::string pattern = dir.path() + "\\*";
  HANDLE search = ::FindFirstFileW(std::wstring(pattern.begin(), pattern.end()).c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  bool seen = false;
  do {
    seen = seen || wide == found.cFileName;
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  EXPECT_TRUE(seen);
  writeFile(folder + "\\n\xC3\xA4me.txt", "abc");
  EXPECT_EQ(platform::pathKind(folder + "\\n\xC3\xA4me.txt"), platform::PathKind::file);
  std::string content;
  ASSERT_TRUE(platform::readWholeFile(folder + "\\n\xC3\xA4me.txt", content, &error)) << error;
  EXPECT_EQ(content, "abc");
}

TEST(FilesWin32, FailuresCarryTheSystemsTextWithoutItsLineEnd) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(platform::makeFolder(dir.file("no\\such\\parent"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(endsWithLineEnd(error)) << error;
  EXPECT_EQ(error, platform::lastErrorText());

  writeFile(dir.file("taken"), "x");
  EXPECT_FALSE(platform::makeFolder(dir.file("taken"), &error));
  EXPECT_FALSE(platform::deleteFile(dir.file("missing"), &error));
  EXPECT_FALSE(endsWithLineEnd(error)) << error;

  std::string content;
  EXPECT_FALSE(platform::readWholeFile(dir.file("missing"), content, &error));
  EXPECT_EQ(error.rfind(dir.file("missing") + ": ", 0), 0u) << error;
  EXPECT_FALSE(platform::errorText(ENOENT).empty());
}

TEST(FilesWin32, FolderChainsWithDrivePrefixAndEitherSeparator) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(platform::makeFolderChain(dir.path() + "\\a\\b/c\\", &error)) << error;
  EXPECT_EQ(platform::pathKind(dir.path() + "\\a\\b\\c"), platform::PathKind::folder);
  // Already there: nothing to do.
  EXPECT_TRUE(platform::makeFolderChain(dir.path() + "\\a\\b", &error)) << error;

  writeFile(dir.file("a\\file"), "x");
  EXPECT_FALSE(platform::makeFolderChain(dir.path() + "\\a\\file\\d", &error));
  EXPECT_EQ(error.rfind(dir.path() + "\\a\\file: ", 0), 0u) << error;
}

TEST(FilesWin32, RenameReplacesAndDeleteRemoves) {
  TempDir dir;
  writeFile(dir.file("from"), "new");
  writeFile(dir.file("to"), "old");
  std::string error;
  ASSERT_TRUE(platform::renameFile(dir.file("from"), dir.file("to"), &error)) << error;
  EXPECT_EQ(readFile(dir.file("to")), "new");
  EXPECT_EQ(platform::pathKind(dir.file("from")), platform::PathKind::missing);
  EXPECT_FALSE(platform::renameFile(dir.file("from"), dir.file("to"), &error));
  ASSERT_TRUE(platform::deleteFile(dir.file("to"), &error)) << error;
  EXPECT_EQ(platform::pathKind(dir.file("to")), platform::PathKind::missing);
}

TEST(FilesWin32, OutputFileWritesBytesUnchanged) {
  TempDir dir;
  const std::string content = "line\r\nline\n\x1A\0end"s;
  platform::OutputFile file;
  std::string error;
  ASSERT_TRUE(file.open(dir.file("out.bin"), &error)) << error;
  ASSERT_TRUE(file.write(content.data(), content.size(), &error)) << error;
  ASSERT_TRUE(file.close(&error)) << error;
  EXPECT_EQ(readFile(dir.file("out.bin")), content);
  // Opening again empties it.
  ASSERT_TRUE(file.open(dir.file("out.bin"), &error)) << error;
  EXPECT_TRUE(file.close(&error));
  EXPECT_EQ(readFile(dir.file("out.bin")), "");
  EXPECT_FALSE(file.write("x", 1, &error));
  EXPECT_FALSE(file.open(dir.file("no\\folder\\out.bin"), &error));
}

}  // namespace

// A colon would write a hidden stream of another file and a device name the device: refused,
// so that such a file fails instead of being counted as saved where nobody finds it.
TEST(FilesWin32, NamesTheFileSystemCannotHoldAreRefused) {
  for (const char* name : {"at 12:00.log", "a<b", "a>b", "a\"b", "a|b", "what?", "*.txt", "tab\t",
                           "CON", "nul.txt", "Com1", "lpt9.log", "aux "}) {
    EXPECT_FALSE(platform::nameProblem(name).empty()) << name;
  }
  for (const char* name : {"a.txt", "CONSOLE", "com0", "nullify.txt", "caf\xC3\xA9", ".hidden"}) {
    EXPECT_TRUE(platform::nameProblem(name).empty()) << name;
  }
  TempDir dir;
  std::string error;
  EXPECT_FALSE(platform::makeFolder(dir.file("at 12:00"), &error));
  EXPECT_EQ(error, platform::nameProblem(":"));
}

TEST(FilesWin32, PathsOfOneFileShareAKey) {
  EXPECT_EQ(platform::sameFileKey("C:\\dl\\README.txt"), platform::sameFileKey("c:/DL/readme.TXT"));
  EXPECT_EQ(platform::sameFileKey("C:\\dl\\x. .\\caf\xC3\xA9"),
            platform::sameFileKey("C:\\dl\\x\\CAF\xC3\x89"));
  EXPECT_NE(platform::sameFileKey("C:\\dl\\a.txt"), platform::sameFileKey("C:\\dl\\a.txt.txt"));
  EXPECT_NE(platform::sameFileKey("C:\\dl\\..\\a"), platform::sameFileKey("C:\\dl\\a"));
}
