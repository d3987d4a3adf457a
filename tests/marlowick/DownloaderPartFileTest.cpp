#include <fmt/chrono.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "marlowick/Downloader.h"
#include "marlowick/PartFile.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/TempDir.h"

namespace {

using marlowick::PartFile;
using platform::PathKind;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

// Makes things at a path with the system's own tools (POSIX).
void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

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

// What someone who may write to the folder could put at a part file's place is never written
// through, nor waited on (a FIFO held open by the lock would take the data until its pipe is
// full, then hold the transfer for good), and stays as it was.
TEST(DownloaderPartFileTest, OnlyAPlainFileIsTakenAsThePartFile) {
  struct Case {
    const char* name;
    const char* plant;  // shell command run in the folder; the part file is .a.txt.marlowick-part
    int reason;         // 0: planted once the part file was taken, in its place
  };
  const Case cases[] = {
      {"symbolic link", "ln -s victim .a.txt.marlowick-part", ELOOP},
      {"FIFO", "mkfifo .a.txt.marlowick-part", ENXIO},
      {"second name of another file", "ln victim .a.txt.marlowick-part", EMLINK},
      {"folder", "mkdir .a.txt.marlowick-part", EISDIR},
      {"second name put in its place once taken", "ln -f victim .a.txt.marlowick-part", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    writeFile(dir.file("victim"), "precious");
    if (c.reason != 0) run("cd '" + dir.path() + "' && " + c.plant);
    std::string failure;
    {
      PartFile part(dir.file("a.txt"));
      EXPECT_EQ(part.create(failure), c.reason == 0);
      if (c.reason != 0) {
        EXPECT_EQ(failure, platform::errorText(c.reason));
      } else {
        // The data goes to the file taken, and what stands at its place never becomes a.txt.
        run("cd '" + dir.path() + "' && " + c.plant);
        EXPECT_TRUE(part.file().write("data", 4, &failure)) << failure;
        EXPECT_FALSE(part.commit(failure));
        EXPECT_EQ(failure, "the part file was replaced meanwhile");
      }
    }
    EXPECT_NE(platform::pathKind(dir.file(".a.txt.marlowick-part")), PathKind::missing);
    EXPECT_EQ(platform::pathKind(dir.file("a.txt")), PathKind::missing);
    EXPECT_EQ(readFile(dir.file("victim")), "precious");
  }
}

// A first run leaves 1,000 of a.bin's bytes in its part file; a second one with --resume=true
// continues them only when the listing shows the file unchanged since they were written.
TEST(DownloaderPartFileTest, ResumeContinuesOnlyAPartFileNotOlderThanTheListedFile) {
  using testing_support::FakeFtpServer;
  using testing_support::FakeTransfer;
  const std::string before = testing_support::randomBytes(5000, 3);
  const std::string after = testing_support::randomBytes(5000, 4);
  const auto unixLine = [](const std::string& date) {
    return "-rw-r--r--   1 owner group 5000 " + date + " a.bin\r\n";
  };
  const std::string oldDay = unixLine("Jan 01  2024");
  struct Case {
    const char* name;
    std::function<std::string(std::int64_t written)> listing;  // the second run's
    bool changed;      // the second run gets other bytes
    bool lostForGood;  // the first run's connection drops and cannot be opened again
  };
  const Case cases[] = {
      {"listed to the day, before", [&](std::int64_t) { return oldDay; }, false, false},
      {"listed to the minute it was written in",
       [&](std::int64_t at) { return unixLine(fmt::format("{:%b %d %H:%M}", fmt::gmtime(at))); },
       false, false},
      {"changed after it was written",
       [](std::int64_t at) { return fmt::format("+r,s5000,m{},\ta.bin\r\n", at + 60); }, true,
       false},
      {"listed without a time", [](std::int64_t) { return std::string("+r,s5000,\ta.bin\r\n"); },
       true, false},
      {"unchanged, after the connection was lost for good", [&](std::int64_t) { return oldDay; },
       false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFtpServer server;
    FakeTransfer cut;
    cut.data = before;
    cut.dropAfter = 1000;
    cut.resetOnDrop = true;
    cut.pauseAt = {1000};
    cut.finalReply = c.lostForGood ? "" : "426 Connection closed.";
    cut.dropControl = c.lostForGood;
    FakeTransfer whole;
    whole.data = c.changed ? after : before;
    server.setFileTries("a.bin", {cut, whole});
    server.setListing("", oldDay);
    if (c.lostForGood) server.refuseSessions(1, "421 Restarting.", 1);
    TempDir dir;
    for (int round = 1; round <= 2; ++round) {
      marlowick::Downloader job;
      job.host = "127.0.0.1";
      job.port = server.port();
      job.username = "user";
      job.password = "secret";
      job.local = dir.path() + platform::kPathSeparator;
      job.timeout = 5;
      job.retries = c.lostForGood && round == 1 ? 1 : 0;
      job.firstPause = std::chrono::milliseconds(10);
      job.resume = true;
      testing::internal::CaptureStdout();
      job.execute();
      const std::string said = testing::internal::GetCapturedStdout();
      if (round == 2) {
        EXPECT_EQ(said.find(" Resuming a.bin at 1000 bytes") != std::string::npos, !c.changed)
            << said;
      }
      if (round == 1) {
        const auto written = platform::modifiedTime(dir.file(".a.bin.marlowick-part"));
        ASSERT_TRUE(written.has_value()) << "the first run kept its part file";
        server.setListing("", c.listing(*written));
      }
    }
    EXPECT_EQ(server.commandsWithVerb("REST"),
              c.changed ? std::vector<std::string>{} : std::vector<std::string>{"REST 1000"});
    EXPECT_TRUE(readFile(dir.file("a.bin")) == (c.changed ? after : before)) << "mixed or stale";
  }
}

}  // namespace
