#include <gtest/gtest.h>

#include "marlowick/PartFile.h"
#include "platform/Files.h"
#include "tests/support/TempDir.h"

namespace {

using marlowick::PartFile;
using platform::PathKind;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

TEST(DownloaderPartFileTest, CommitReplacesTheFinalFile) {
  TempDir dir;
  writeFile(dir.file("a.txt"), "old");
  std::string failure;
  {
    PartFile part(dir.file("a.txt"));
    ASSERT_TRUE(part.create(failure)) << failure;
    EXPECT_EQ(part.path(), dir.file(".a.txt.marlowick-part"));
    EXPECT_EQ(readFile(dir.file("a.txt")), "old");
    writeFile(part.path(), "new");
    ASSERT_TRUE(part.commit(failure)) << failure;
  }
  EXPECT_EQ(readFile(dir.file("a.txt")), "new");
  EXPECT_EQ(platform::pathKind(dir.file(".a.txt.marlowick-part")), PathKind::missing);
}

TEST(DownloaderPartFileTest, WithoutCommitTheFinalFileStaysAndThePartGoes) {
  TempDir dir;
  writeFile(dir.file("a.txt"), "good");
  std::string failure;
  std::string partPath;
  {
    PartFile part(dir.file("a.txt"));
    ASSERT_TRUE(part.create(failure));
    partPath = part.path();
    writeFile(partPath, "half");
  }
  EXPECT_EQ(readFile(dir.file("a.txt")), "good");
  EXPECT_EQ(platform::pathKind(partPath), PathKind::missing);
}

TEST(DownloaderPartFileTest, NeverReusesAnExistingFile) {
  TempDir dir;
  // A real file that happens to carry the temporary name is left alone.
  writeFile(dir.file(".a.txt.marlowick-part"), "someone's file");
  std::string failure;
  {
    PartFile part(dir.file("a.txt"));
    ASSERT_TRUE(part.create(failure));
    EXPECT_EQ(part.path(), dir.file(".a.txt.marlowick-part-2"));
  }
  EXPECT_EQ(readFile(dir.file(".a.txt.marlowick-part")), "someone's file");
  EXPECT_EQ(platform::pathKind(dir.file(".a.txt.marlowick-part-2")), PathKind::missing);
}

TEST(DownloaderPartFileTest, LongNamesGetAShortTemporaryName) {
  TempDir dir;
  std::string name(250, 'n');
  std::string failure;
  PartFile part(dir.file(name));
  ASSERT_TRUE(part.create(failure)) << failure;
  EXPECT_EQ(part.path(), dir.file(".marlowick.marlowick-part"));
}

TEST(DownloaderPartFileTest, AFolderAtTheFinalPathFailsTheMoveAndLeavesNothing) {
  TempDir dir;
  ASSERT_TRUE(platform::makeFolder(dir.file("a.txt")));
  std::string failure;
  std::string partPath;
  {
    PartFile part(dir.file("a.txt"));
    ASSERT_TRUE(part.create(failure));
    partPath = part.path();
    EXPECT_FALSE(part.commit(failure));
    EXPECT_EQ(failure, platform::errorText(EISDIR));
  }
  EXPECT_EQ(platform::pathKind(dir.file("a.txt")), PathKind::folder);
  EXPECT_EQ(platform::pathKind(partPath), PathKind::missing);
}

TEST(DownloaderPartFileTest, AMissingFolderFailsTheCreation) {
  TempDir dir;
  std::string failure;
  PartFile part(dir.file("gone/a.txt"));
  EXPECT_FALSE(part.create(failure));
  EXPECT_EQ(failure, platform::errorText(ENOENT));
}

}  // namespace
