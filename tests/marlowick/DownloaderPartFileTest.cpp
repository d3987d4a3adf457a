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

TEST(DownloaderPartFileTest, OnePartFilePerTargetKeptOnlyWhenAsked) {
  TempDir dir;
  std::string failure;
  for (bool kept : {true, false}) {
    SCOPED_TRACE(kept);
    // What an earlier run left is the same part file, found with its bytes.
    PartFile part(dir.file("a.txt"));
    ASSERT_TRUE(part.create(failure)) << failure;
    EXPECT_EQ(part.path(), dir.file(".a.txt.marlowick-part"));
    EXPECT_EQ(part.size(), kept ? 0u : 4u);
    writeFile(part.path(), "half");
    if (kept) part.keep();
  }
  EXPECT_EQ(platform::pathKind(dir.file(".a.txt.marlowick-part")), PathKind::missing);
}

TEST(DownloaderPartFileTest, LongNamesGetADigestThatKeepsThemApart) {
  TempDir dir;
  std::string failure;
  PartFile first(dir.file(std::string(250, 'n')));
  PartFile second(dir.file(std::string(250, 'n') + "x"));
  ASSERT_TRUE(first.create(failure) && second.create(failure)) << failure;
  EXPECT_NE(first.path(), second.path());
  EXPECT_LT(first.path().size() - dir.path().size(), 40u);
}

TEST(DownloaderPartFileTest, RemoteNamesThatCouldLandOnAPartFile) {
  using marlowick::isPartFileName;
  EXPECT_TRUE(isPartFileName(".victim.txt.marlowick-part"));
  EXPECT_TRUE(isPartFileName("sub/x.MARLOWICK-PART"));
  EXPECT_FALSE(isPartFileName("x.marlowick-part.txt"));
  EXPECT_FALSE(isPartFileName("marlowick-part"));
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

// A run fetching the same file into the same folder, as a scheduled run overlapping the one
// before, neither writes into the first one's part file nor removes it.
TEST(DownloaderPartFileTest, APartFileInUseIsLeftToItsHolder) {
  TempDir dir;
  std::string failure;
  PartFile first(dir.file("a.txt"));
  ASSERT_TRUE(first.create(failure)) << failure;
  writeFile(first.path(), "half");
  {
    PartFile second(dir.file("a.txt"));
    EXPECT_FALSE(second.create(failure));
    EXPECT_EQ(failure, "another process is fetching it into the same folder");
  }
  EXPECT_EQ(readFile(first.path()), "half");
  ASSERT_TRUE(first.commit(failure)) << failure;
  PartFile next(dir.file("a.txt"));
  EXPECT_TRUE(next.create(failure)) << failure;
}

}  // namespace
