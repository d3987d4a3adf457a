#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TempDir.h"

namespace {

using platform::PathKind;
using testing_support::TempDir;
using testing_support::writeFile;

TEST(Files, PathKindTellsFilesFoldersAndMissingPaths) {
  TempDir dir;
  writeFile(dir.file("f"), "abc");
  EXPECT_EQ(platform::pathKind(dir.file("f")), PathKind::file);
  EXPECT_EQ(platform::pathKind(dir.path()), PathKind::folder);
  EXPECT_EQ(platform::pathKind(dir.file("nothing")), PathKind::missing);
  EXPECT_EQ(platform::pathKind("/dev/null"), PathKind::other);
}

TEST(Files, PathQueriesAreCounted) {
  TempDir dir;
  auto before = platform::pathQueryCount();
  platform::pathKind(dir.path());
  platform::pathKind(dir.file("x"));
  EXPECT_EQ(platform::pathQueryCount(), before + 2);
}

TEST(Files, SizeOfFilesAndOfNothing) {
  TempDir dir;
  writeFile(dir.file("f"), std::string(12345, 'x'));
  EXPECT_EQ(platform::fileSize(dir.file("f")), 12345u);
  EXPECT_FALSE(platform::fileSize(dir.file("missing")).has_value());
}

TEST(Files, ModifiedTimeIsSetToTheSecondAndReadBack) {
  TempDir dir;
  writeFile(dir.file("f"), "abc");
  for (std::int64_t seconds :
       {std::int64_t{1709392425}, std::int64_t{0}, std::int64_t{4102444800}}) {
    EXPECT_EQ(platform::setModifiedTime(dir.file("f"), seconds), "");
    EXPECT_EQ(platform::modifiedTime(dir.file("f")), seconds);
  }
  EXPECT_EQ(platform::setModifiedTime(dir.file("missing"), 0), "No such file or directory");
}

TEST(Files, FolderChainIsMadeAndReportsWhatBlocksIt) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(platform::makeFolderChain(dir.file("a/b/c/"), &error)) << error;
  EXPECT_EQ(platform::pathKind(dir.file("a/b/c")), PathKind::folder);
  EXPECT_TRUE(platform::makeFolderChain(dir.file("a/b/c"), &error)) << "existing chain is fine";

  writeFile(dir.file("file"), "x");
  EXPECT_FALSE(platform::makeFolderChain(dir.file("file/sub"), &error));
  EXPECT_EQ(error, dir.file("file") + ": Not a directory");
}

TEST(Files, MakeFolderFailsWithTheSystemsReason) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(platform::makeFolder(dir.file("missing/child"), &error));
  EXPECT_EQ(error, "No such file or directory");
}

TEST(Files, DeleteAndRename) {
  TempDir dir;
  writeFile(dir.file("a"), "1");
  writeFile(dir.file("b"), "2");
  ASSERT_TRUE(platform::renameFile(dir.file("a"), dir.file("b")));
  EXPECT_EQ(testing_support::readFile(dir.file("b")), "1");
  ASSERT_TRUE(platform::deleteFile(dir.file("b")));
  std::string error;
  EXPECT_FALSE(platform::deleteFile(dir.file("b"), &error));
  EXPECT_EQ(error, "No such file or directory");
}

TEST(Files, ErrorTextsHaveNoLineEnd) {
  for (int error : {EACCES, ENOENT, ENOSPC, 9999}) {
    std::string text = platform::errorText(error);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), std::string::npos);
  }
}

// Whatever was at the path before, the file holds exactly what was written after opening.
TEST(Files, OutputFileHoldsOnlyWhatWasWritten) {
  struct Case {
    const char* name;
    const char* before;  // nullptr: nothing at the path
  };
  const Case cases[] = {{"missing", nullptr}, {"empty", ""}, {"longer", "old content, longer"}};
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.file(c.name);
    if (c.before != nullptr) writeFile(path, c.before);
    platform::OutputFile file;
    std::string error;
    ASSERT_TRUE(file.open(path, &error)) << c.name << ": " << error;
    ASSERT_TRUE(file.write("new", 3, &error)) << c.name << ": " << error;
    ASSERT_TRUE(file.close(&error)) << c.name << ": " << error;
    EXPECT_EQ(testing_support::readFile(path), "new") << c.name;
  }
  // A device is written to as it is, never cut.
  platform::OutputFile sink;
  EXPECT_TRUE(sink.open("/dev/null"));
  // A folder cannot be opened as a file; the system says why.
  platform::OutputFile folder;
  std::string error;
  EXPECT_FALSE(folder.open(dir.path(), &error));
  EXPECT_EQ(error, platform::errorText(EISDIR));
  EXPECT_FALSE(folder.isOpen());
}

// A part file's path in a folder others may write to: a link planted there is never written
// through, and a FIFO there fails at once instead of holding the transfer.
TEST(Files, OddThingsAtAFilesPathAreNotWrittenThrough) {
  TempDir dir;
  const std::string victim = dir.file("victim");
  writeFile(victim, "precious");
  ASSERT_EQ(::symlink(victim.c_str(), dir.file("link").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  for (const char* name : {"link", "fifo"}) {
    std::string error;
    platform::OutputFile file;
    EXPECT_FALSE(file.open(dir.file(name), &error)) << name;
    EXPECT_FALSE(error.empty()) << name;
  }
  platform::FileLock lock;
  EXPECT_EQ(lock.take(dir.file("link")), platform::LockTaken::failed);
  EXPECT_EQ(testing_support::readFile(victim), "precious");
}

}  // namespace
