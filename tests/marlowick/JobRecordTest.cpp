// The record of a job's outcomes: the status it earns and the count of what failed.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "marlowick/JobRecord.h"
#include "marlowick/RunReport.h"

namespace {

using kestrelkit::net::ftp::FtpFileInfo;
using marlowick::FileState;
using marlowick::JobRecord;
using marlowick::RequestStatus;

FtpFileInfo file(const std::string& name) {
  FtpFileInfo info;
  info.name = name;
  info.size = 10;
  return info;
}

TEST(JobRecord, TheWorstOutcomeDecidesTheStatus) {
  struct Case {
    const char* what;
    std::function<void(JobRecord&)> feed;
    RequestStatus status;
  };
  const Case cases[] = {
      {"nothing selected", [](JobRecord&) {}, RequestStatus::done},
      {"saved, skipped and listed",
       [](JobRecord& r) {
         r.fileDone(file("a"), "/l/a", FileState::saved);
         r.fileDone(file("b"), "/l/b", FileState::skipped);
         r.fileDone(file("c"), "/l/c", FileState::listed);
         r.selection({file("a"), file("b"), file("c")});
       },
       RequestStatus::done},
      {"not started", [](JobRecord& r) { r.notStarted("Login failure 530"); },
       RequestStatus::notStarted},
      {"a file failed", [](JobRecord& r) { r.fileDone(file("a"), "/l/a", FileState::failed, "x"); },
       RequestStatus::someFailed},
      {"a file never handled", [](JobRecord& r) { r.selection({file("a")}); },
       RequestStatus::someFailed},
      {"a folder failed", [](JobRecord& r) { r.folderFailed("sub", "550"); },
       RequestStatus::someFailed},
      {"ended early", [](JobRecord& r) { r.aborted("Download catch"); }, RequestStatus::someFailed},
      {"deadline after a failure",
       [](JobRecord& r) {
         r.fileDone(file("a"), "/l/a", FileState::failed, "x");
         r.stoppedByDeadline();
       },
       RequestStatus::deadline},
      // A file another connection handed back and then saved counts once, as saved.
      {"failed try, then saved",
       [](JobRecord& r) {
         r.tryStarted(file("a"), 0);
         r.tryStarted(file("a"), 4);
         r.fileDone(file("a"), "/l/a", FileState::saved);
       },
       RequestStatus::done},
  };
  for (const Case& c : cases) {
    JobRecord record;
    c.feed(record);
    EXPECT_EQ(record.status(), c.status) << c.what;
  }
}

TEST(JobRecord, TriesBytesAndResumeOffsetOfAFile) {
  JobRecord record;
  record.tryStarted(file("a"), 4);
  record.bytesReceived(file("a"), 6);
  record.tryStarted(file("a"), 6);
  record.bytesReceived(file("a"), 10);
  record.fileDone(file("a"), "/l/a", FileState::saved);
  const auto files = record.files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].tries, 2);
  EXPECT_EQ(files[0].resumedFrom, 4u);
  EXPECT_EQ(files[0].bytes, 6u);  // this run's bytes, not the resumed part's
}

TEST(JobRecord, ScanNotesAndConnectionsOnThreads) {
  JobRecord record;
  record.scanErrors({"a/b: name leads out of its folder", "lost",
                     "Listing of sub/x failed: 550 Permission denied.",
                     "Listing of sub: 1 line longer than 8191 bytes left out"});
  const auto folders = record.folders();
  ASSERT_EQ(folders.size(), 4u);
  EXPECT_EQ(folders[0].path, "a/b");
  EXPECT_EQ(folders[0].reason, "name leads out of its folder");
  EXPECT_EQ(folders[1].reason, "lost");
  EXPECT_EQ(folders[2].path, "sub/x");
  EXPECT_EQ(folders[2].reason, "550 Permission denied.");
  EXPECT_EQ(folders[3].path, "sub");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&record, t] {
      for (int i = 0; i < 250; ++i) {
        const FtpFileInfo each = file(std::to_string(t) + "/" + std::to_string(i));
        record.tryStarted(each, 0);
        record.fileDone(each, "", i % 2 ? FileState::saved : FileState::failed, "x");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(record.files().size(), 1000u);
  EXPECT_EQ(record.failedFiles(), 500u);
}

TEST(JobRecord, FailureCountText) {
  EXPECT_EQ(marlowick::failureCountText(0, 0), "");
  EXPECT_EQ(marlowick::failureCountText(1, 0), "1 file failed");
  EXPECT_EQ(marlowick::failureCountText(3, 1), "3 files and 1 folder failed");
  EXPECT_EQ(marlowick::failureCountText(0, 2), "2 folders failed");
}

}  // namespace
