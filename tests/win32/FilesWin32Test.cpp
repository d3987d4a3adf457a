// The file calls of the Windows layer: wide names from UTF-8 texts, backslash paths, drive
// prefixes and the system's own error texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/Files.h"
#include "platform/win32/Wide.h"
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
  // A listed time put on a file reads back to the second.
  EXPECT_EQ(platform::setModifiedTime(dir.file("file.bin"), 1709392425), "");
  EXPECT_EQ(platform::modifiedTime(dir.file("file.bin")), 1709392425);
  EXPECT_FALSE(platform::setModifiedTime(dir.file("missing"), 0).empty());
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

// A deep tree passes MAX_PATH (260 characters) soon: a part file there is made, written and
// renamed like any other. (Wine 8 does not hold paths to that limit; SystemPaths shows the prefix.)
TEST(FilesWin32, PathsLongerThanMaxPathWork) {
  TempDir dir;
  std::string deep = dir.path();
  while (deep.size() <= 300) deep += "\\" + std::string(50, 'd');
  std::string error;
  ASSERT_TRUE(platform::makeFolderChain(deep, &error)) << error;
  const std::string part = deep + "\\.a.bin.marlowick-part";
  ASSERT_EQ(platform::createNewFile(part, &error), platform::NewFile::created) << error;
  platform::OutputFile file;
  ASSERT_TRUE(file.open(part, &error) && file.write("data", 4, &error) && file.close(&error))
      << error;
  ASSERT_TRUE(platform::renameFile(part, deep + "/a.bin", &error)) << error;
  EXPECT_EQ(platform::fileSize(deep + "\\a.bin"), 4u);
}

TEST(FilesWin32, SystemPathsAreWholeAndPrefixed) {
  using platform::win32::systemPath;
  EXPECT_EQ(systemPath("C:/dl/sub\\..\\a.bin"), L"\\\\?\\C:\\dl\\a.bin");
  EXPECT_EQ(systemPath("\\\\server\\share\\a.bin"), L"\\\\?\\UNC\\server\\share\\a.bin");
  EXPECT_EQ(systemPath("\\\\?\\C:\\a."), L"\\\\?\\C:\\a.");
  EXPECT_EQ(systemPath("\\\\.\\NUL"), L"\\\\.\\NUL");
}

// Like a link on POSIX, a reparse point or a second name of another file at a part file's place
// is refused rather than written through.
TEST(FilesWin32, OnlyAPlainFileHasNoProblem) {
  TempDir dir;
  writeFile(dir.file("victim"), "precious");
  const std::wstring victim = platform::win32::systemPath(dir.file("victim"));
  const std::wstring link = platform::win32::systemPath(dir.file("link"));
  ASSERT_TRUE(::CreateHardLinkW(link.c_str(), victim.c_str(), nullptr));
  EXPECT_EQ(platform::plainFileProblem(dir.file("link")),
            platform::win32::systemMessage(ERROR_TOO_MANY_LINKS));
  ASSERT_TRUE(platform::deleteFile(dir.file("link")));
  EXPECT_EQ(platform::plainFileProblem(dir.file("victim")), "");
  if (!::CreateSymbolicLinkW(link.c_str(), victim.c_str(), 0) ||
      ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no symbolic links here (Wine 8 makes none)";
  }
  EXPECT_EQ(platform::plainFileProblem(dir.file("link")),
            platform::win32::systemMessage(ERROR_CANT_RESOLVE_FILENAME));
}
