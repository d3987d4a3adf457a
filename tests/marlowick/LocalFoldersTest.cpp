#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "marlowick/Downloader.h"
#include "marlowick/LocalFolders.h"
#include "platform/Files.h"
#include "tests/support/TempDir.h"

namespace marlowick {
namespace {

using testing_support::TempDir;
using testing_support::writeFile;

bool isFolder(const std::string& path) { return std::filesystem::is_directory(path); }

/// The text of the failure raised by `createFoldersFor`, or "" when none was.
std::string failureOf(const std::string& localPath) {
  try {
    createFoldersFor(localPath);
  } catch (const std::runtime_error& failure) {
    return failure.what();
  }
  return "";
}

TEST(LocalFolders, MakesEveryFolderOnTheWayButNotTheFile) {
  TempDir temp;
  const std::string local = temp.file("dl/");
  EXPECT_EQ(failureOf(local + "a/b/f.txt"), "");
  EXPECT_TRUE(isFolder(temp.file("dl")));
  EXPECT_TRUE(isFolder(temp.file("dl/a")));
  EXPECT_TRUE(isFolder(temp.file("dl/a/b")));
  EXPECT_FALSE(std::filesystem::exists(temp.file("dl/a/b/f.txt")));
  // Every prefix closed by a "/" is recorded, from the top down; the empty one is not.
  for (const std::string& folder :
       {temp.path(), temp.file("dl"), temp.file("dl/a"), temp.file("dl/a/b")}) {
    EXPECT_TRUE(folderRecorded(folder)) << folder;
  }
  EXPECT_FALSE(folderRecorded(""));
  EXPECT_FALSE(folderRecorded(temp.file("dl/a/b/f.txt")));
}

TEST(LocalFolders, AFileDirectlyInTheLocalFolderNeedsOnlyItsPrefixes) {
  TempDir temp;
  EXPECT_EQ(failureOf(temp.file("dl/f.txt")), "");
  EXPECT_TRUE(isFolder(temp.file("dl")));
  EXPECT_TRUE(folderRecorded(temp.file("dl")));
  // A name without any "/" needs no folder at all.
  std::uint64_t before = platform::pathQueryCount();
  EXPECT_EQ(failureOf("plain.txt"), "");
  EXPECT_EQ(platform::pathQueryCount(), before);
}

TEST(LocalFolders, AsksAboutEachFolderOncePerProcess) {
  TempDir temp;
  const std::string local = temp.file("dl/");
  createFoldersFor(local + "a/one.txt");

  std::uint64_t before = platform::pathQueryCount();
  createFoldersFor(local + "a/two.txt");
  createFoldersFor(local + "three.txt");
  EXPECT_EQ(platform::pathQueryCount(), before);

  // One new level costs one query, for that level alone.
  createFoldersFor(local + "a/b/four.txt");
  EXPECT_EQ(platform::pathQueryCount(), before + 1);
}

TEST(LocalFolders, ExistingFolderIsRecordedAsFound) {
  TempDir temp;
  std::filesystem::create_directories(temp.file("dl/there"));
  EXPECT_EQ(failureOf(temp.file("dl/there/f.txt")), "");
  EXPECT_TRUE(folderRecorded(temp.file("dl/there")));
}

TEST(LocalFolders, FileStandingWhereAFolderIsNeeded) {
  TempDir temp;
  writeFile(temp.file("dl/a"), "not a folder");
  const std::string conflict = "Path.createPath :: file/folder conflict: " + temp.file("dl/a");
  EXPECT_EQ(failureOf(temp.file("dl/a/f.txt")), conflict);
  // Every file below it meets the same conflict again; the folders above stay made.
  EXPECT_EQ(failureOf(temp.file("dl/a/b/g.txt")), conflict);
  EXPECT_FALSE(folderRecorded(temp.file("dl/a")));
  EXPECT_TRUE(folderRecorded(temp.file("dl")));
  EXPECT_FALSE(std::filesystem::exists(temp.file("dl/a/b")));
}

TEST(LocalFolders, FolderThatCannotBeMadeNamesItselfAndTheReason) {
  TempDir temp;
  const std::string tooLong = temp.file("dl/" + std::string(300, 'n'));
  const std::string expected = tooLong + ": " + platform::errorText(ENAMETOOLONG);
  EXPECT_EQ(failureOf(tooLong + "/f.txt"), expected);
  EXPECT_TRUE(folderRecorded(temp.file("dl")));
  EXPECT_FALSE(folderRecorded(tooLong));

  // A failing folder is not recorded, so the next file asks again.
  std::uint64_t before = platform::pathQueryCount();
  EXPECT_EQ(failureOf(tooLong + "/g.txt"), expected);
  EXPECT_EQ(platform::pathQueryCount(), before + 1);
}

TEST(LocalFolders, FolderUnderAReadOnlyParent) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop mkdir";
  TempDir temp;
  std::filesystem::create_directories(temp.file("locked"));
  std::filesystem::permissions(
      temp.file("locked"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  EXPECT_EQ(failureOf(temp.file("locked/a/f.txt")),
            temp.file("locked/a") + ": " + platform::errorText(EACCES));
}

TEST(LocalFolders, EnsureFolderSkipsTheEmptyPath) {
  std::uint64_t before = platform::pathQueryCount();
  EXPECT_NO_THROW(ensureFolder(""));
  EXPECT_EQ(platform::pathQueryCount(), before);
  EXPECT_FALSE(folderRecorded(""));
}

}  // namespace
}  // namespace marlowick
