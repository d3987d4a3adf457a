// A job that recovers: reconnects and further tries after the failures another try may mend,
// transfers continued where they stopped, part files, names listed twice.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "marlowick/Downloader.h"
#include "platform/Files.h"
#include "tests/marlowick/DownloaderJobSupport.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/TempDir.h"

namespace {

using marlowick::Downloader;
using marlowick::RequestStatus;
using marlowick_test::errorLine;
using marlowick_test::fileLine;
using marlowick_test::folderLine;
using marlowick_test::jobFor;
using marlowick_test::JobRun;
using marlowick_test::runJob;
using testing_support::FakeFtpServer;
using testing_support::FakeTransfer;
using testing_support::randomBytes;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

const std::string kData = randomBytes(5000, 15);

FakeTransfer whole() {
  FakeTransfer transfer;
  transfer.data = kData;
  return transfer;
}

FakeTransfer cutAt(std::size_t bytes, std::string finalReply) {
  FakeTransfer transfer = whole();
  transfer.dropAfter = bytes;
  transfer.resetOnDrop = true;
  transfer.pauseAt = {bytes};  // the client has read the bytes before the drop
  transfer.finalReply = std::move(finalReply);
  return transfer;
}

FakeTransfer refused(std::string reply, bool thenClose = false) {
  FakeTransfer transfer;
  transfer.refusal = std::move(reply);
  transfer.closeAfterReply = thenClose;
  return transfer;
}

FakeTransfer droppedSession() {
  FakeTransfer transfer = whole();
  transfer.dropControlAtStart = true;
  return transfer;
}

/// Serves a.bin, b.bin and c.bin (kData each) in its start folder.
struct ThreeFiles {
  ThreeFiles() {
    server.setListing("", fileLine("a.bin", kData.size()) + fileLine("b.bin", kData.size()) +
                              fileLine("c.bin", kData.size()));
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) server.setFile(name, kData);
  }
  FakeFtpServer server;
};

Downloader quickJob(int port, const std::string& folder) {
  Downloader job = jobFor(port, folder);
  job.retries = Downloader::kDefaultRetries;
  job.firstPause = std::chrono::milliseconds(10);
  job.timeout = 5;
  return job;
}

TEST(DownloaderRetryTest, EachFailureKindIsTriedAgainOrNot) {
  struct Case {
    const char* name;
    std::function<void(FakeFtpServer&, Downloader&)> setUp;
    unsigned saved;
    std::size_t retrievals;  // of a.bin
    const char* restart;     // the REST line sent, "" for none
    const char* line;        // a line the log must hold
  };
  const Case cases[] = {
      {"session dropped between files",
       [](FakeFtpServer& s, Downloader&) { s.setFileTries("a.bin", {droppedSession(), whole()}); },
       3, 2, "", " Reconnected to 127.0.0.1"},
      {"data cut at 1000 bytes",
       [](FakeFtpServer& s, Downloader&) {
         s.setFileTries("a.bin", {cutAt(1000, "426 Connection closed."), whole()});
       },
       3, 2, "REST 1000", " Retrying a.bin in 0.01 s (1/3): 426 Connection closed."},
      {"called complete yet shorter than listed",
       [](FakeFtpServer& s, Downloader&) {
         FakeTransfer cut = whole();
         cut.dropAfter = 3000;
         s.setFileTries("a.bin", {cut, whole()});
       },
       3, 2, "REST 3000", " Retrying a.bin in 0.01 s (1/3): received 3000 of 5000 bytes"},
      {"try again later, twice",
       [](FakeFtpServer& s, Downloader&) {
         FakeTransfer busy;
         busy.data = "";
         busy.finalReply = "450 Busy.";
         s.setFileTries("a.bin", {busy, busy, whole()});
       },
       3, 3, "", " Retrying a.bin in 0.02 s (2/3): 450 Busy."},
      {"refused for good",
       [](FakeFtpServer& s, Downloader&) { s.setReply("RETR a.bin", "550 No such file."); }, 2, 1,
       "", "Download a.bin failed: 550 No such file."},
      {"no further tries asked for",
       [](FakeFtpServer& s, Downloader& job) {
         s.setFileTries("a.bin", {cutAt(1000, "426 Connection closed."), whole()});
         job.retries = 0;
       },
       2, 1, "", "Download a.bin failed: 426 Connection closed."},
      {"a server that cannot restart sends it all again",
       [](FakeFtpServer& s, Downloader&) {
         s.setFileTries("a.bin", {cutAt(1000, "426 Connection closed."), whole()});
         s.setReply("REST", "502 Command not implemented.");
       },
       3, 2, "REST 1000", " Retrying a.bin in 0.01 s (1/3): 426 Connection closed."},
      {"REST taken, then the whole file sent",
       [](FakeFtpServer& s, Downloader&) {
         s.setFileTries("a.bin", {cutAt(1000, "426 Connection closed."), whole()});
         s.setReply("REST", "350 Restarting at 1000.");
       },
       3, 3, "REST 1000",
       " Fetching a.bin again from its start: the server ignored the restart point"},
      {"REST taken, then RETR refused",
       [](FakeFtpServer& s, Downloader&) {
         s.setFileTries("a.bin", {cutAt(1000, "426 Connection closed."),
                                  refused("554 Restart not possible."), whole()});
       },
       3, 3, "REST 1000", " Retrying a.bin in 0.01 s (1/3): 426 Connection closed."},
      {"421 closes the session, and the next try opens a new one",
       [](FakeFtpServer& s, Downloader& job) {
         s.setFileTries("a.bin", {refused("421 Timeout.", true), whole()});
         job.retries = 1;
       },
       3, 2, "", " Reconnected to 127.0.0.1"},
      {"the passive request sent during a transfer refused",
       [](FakeFtpServer& s, Downloader& job) {
         s.setReplyOnce("PASV", "425 Can't open data connection: transfer in progress.", 2);
         job.retries = 0;
       },
       3, 1, "", " Downloading c.bin 3/3 ..."},
      {"... refused for good, on a server without EPSV",
       [](FakeFtpServer& s, Downloader& job) {
         s.setReplyOnce("PASV", "500 Not now.", 2);
         s.setReply("EPSV", "502 Command not implemented.");
         job.retries = 0;
       },
       3, 1, "", " Downloading c.bin 3/3 ..."},
      {"the session lost while asking for UTF-8 names on a reconnect",
       [](FakeFtpServer& s, Downloader&) {
         s.setFileTries("a.bin", {droppedSession(), whole()});
         s.setReplyOnce("OPTS UTF8 ON", "", 1);
       },
       3, 2, "", " Retrying a.bin in 0.02 s (2/3): Unable to connect to 127.0.0.1 connection lost"},
      {"a server restarting when the job starts",
       [](FakeFtpServer& s, Downloader&) { s.refuseSessions(2, "421 Restarting."); }, 3, 1, "",
       " Connecting 127.0.0.1 again in 0.02 s (2/3): Unable to connect to 127.0.0.1 421 "
       "Restarting."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ThreeFiles served;
    TempDir dir;
    Downloader job = quickJob(served.server.port(), dir.path());
    c.setUp(served.server, job);
    const JobRun run = runJob(job);
    EXPECT_EQ(job.savedCount, c.saved) << run.log;
    EXPECT_EQ(served.server.commandCount("RETR a.bin"), c.retrievals);
    EXPECT_EQ(served.server.commandsWithVerb("REST"),
              std::string(c.restart).empty() ? std::vector<std::string>{}
                                             : std::vector<std::string>{c.restart});
    EXPECT_NE(run.log.find(c.line), std::string::npos) << run.log;
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
      if (c.saved == 3 || std::string(name) != "a.bin") {
        EXPECT_EQ(readFile(dir.file(name)), kData);
      }
    }
    // Whatever happened, no part file is left behind.
    EXPECT_EQ(platform::pathKind(dir.file(".a.bin.marlowick-part")), platform::PathKind::missing);
  }
}

TEST(DownloaderRetryTest, APartFileIsKeptAndContinuedByTheNextRunOnlyWithResume) {
  for (bool resume : {true, false}) {
    SCOPED_TRACE(resume);
    ThreeFiles served;
    // The first run runs out of tries with 1,000 bytes; the next one gets the rest.
    const FakeTransfer cut = cutAt(1000, "426 Connection closed.");
    served.server.setFileTries("a.bin", {cut, cut, whole()});
    TempDir dir;
    const std::string part = dir.file(".a.bin.marlowick-part");
    for (int run = 1; run <= 2; ++run) {
      Downloader job = quickJob(served.server.port(), dir.path());
      job.resume = resume;
      job.retries = 1;
      runJob(job);
      EXPECT_EQ(job.savedCount, run == 1 ? 2u : 3u);
    }
    EXPECT_EQ(readFile(dir.file("a.bin")), kData);
    EXPECT_EQ(platform::pathKind(part), platform::PathKind::missing);
    // The retry within the first run, then the next run's continuation.
    const std::vector<std::string> restarts(resume ? 2 : 1, "REST 1000");
    EXPECT_EQ(served.server.commandsWithVerb("REST"), restarts);
  }
}

TEST(DownloaderRetryTest, AListingLostEachTimeIsTriedAgainThenLeftAndTheJobGoesOn) {
  FakeFtpServer server;
  server.setListing("", folderLine("sub") + fileLine("top.bin", 4));
  FakeTransfer dropped;
  dropped.dropControlAtStart = true;
  server.setListing("sub", dropped);
  server.setFile("top.bin", "data");
  TempDir dir;
  Downloader job = quickJob(server.port(), dir.path());
  job.recurse = true;
  job.retries = 2;
  const JobRun run = runJob(job);
  EXPECT_EQ(server.commandCount("LIST sub"), 3u);
  EXPECT_NE(run.log.find(" Retrying the listing of sub in 0.02 s (2/2): connection lost"),
            std::string::npos)
      << run.log;
  // The session the last try lost is opened again for the file.
  EXPECT_EQ(job.savedCount, 1u);
  EXPECT_EQ(readFile(dir.file("top.bin")), "data");
}

/// One line of a UNIX listing for a folder "d" of `size` bytes.
std::string sizedFolderLine(std::size_t size) {
  return "drwxr-xr-x   2 owner group " + std::to_string(size) + " Jan 01  2024 d\r\n";
}

// Every folder whose entries could not be read, and every folder or line the scan left out, gets
// one Error line with the reason; the job goes on. The start folder's comes before "No files
// matched".
TEST(DownloaderRetryTest, EachFolderThatCannotBeReadOrIsLeftOutIsSaid) {
  const std::string top = folderLine("sub") + fileLine("top.bin", 4);
  const std::string noMatch = errorLine("No files matched on remote server: 127.0.0.1");
  std::string deepest = "sub";
  for (int level = 1; level <= 1000; ++level) deepest += "/d";
  struct Case {
    const char* name;
    std::function<void(FakeFtpServer&, Downloader&)> setUp;
    std::string note;
    unsigned saved;  // 0: nothing matched
  };
  const Case cases[] = {
      {"550 on a subfolder",
       [](FakeFtpServer& s, Downloader&) { s.setReply("LIST sub", "550 Permission denied."); },
       "Listing of sub failed: 550 Permission denied.", 1},
      {"450 at every try",
       [](FakeFtpServer& s, Downloader&) { s.setReply("LIST sub", "450 Busy."); },
       "Listing of sub failed: 450 Busy.", 1},
      {"426 after the data",
       [](FakeFtpServer& s, Downloader&) {
         FakeTransfer aborted;
         aborted.data = fileLine("in.bin", 4);
         aborted.finalReply = "426 Aborted.";
         s.setListing("sub", aborted);
       },
       "Listing of sub failed: 426 Aborted.", 1},
      {"data connection reset",
       [](FakeFtpServer& s, Downloader&) {
         FakeTransfer reset;
         reset.data = fileLine("in.bin", 4) + fileLine("more.bin", 4);
         reset.dropAfter = 10;
         reset.resetOnDrop = true;
         reset.pauseAt = {10};  // the client has read the bytes before the drop
         s.setListing("sub", reset);
       },
       "Listing of sub failed: data connection lost: Connection reset by peer", 1},
      {"session dropped at every try",
       [](FakeFtpServer& s, Downloader&) { s.setListing("sub", droppedSession()); },
       "Listing of sub failed: connection lost", 1},
      {"no reply",
       [](FakeFtpServer& s, Downloader& job) {
         s.setSilent("LIST sub");
         job.timeout = 1;
         job.retries = 1;  // the file needs a new session
       },
       "Listing of sub failed: no reply for 1 s", 1},
      {"start folder refused",
       [](FakeFtpServer& s, Downloader&) { s.setReply("LIST", "550 No such directory."); },
       "Listing of . failed: 550 No such directory.", 0},
      {"start folder: 450", [](FakeFtpServer& s, Downloader&) { s.setReply("LIST", "450 Busy."); },
       "Listing of . failed: 450 Busy.", 0},
      {"start folder: bad passive reply",
       [](FakeFtpServer& s, Downloader&) { s.setReply("PASV", "227 Entering nowhere."); },
       "Listing of . failed: 227 Entering nowhere.", 0},
      {"start folder: no reply",
       [](FakeFtpServer& s, Downloader& job) {
         s.setSilent("LIST");
         job.timeout = 1;
         job.retries = 0;
       },
       "Listing of . failed: no reply for 1 s", 0},
      {"a line too long to be a whole entry",
       [](FakeFtpServer& s, Downloader&) {
         s.setListing("sub", fileLine(std::string(9000, 'n'), 4));
       },
       "Listing of sub: 1 line longer than 8191 bytes left out", 1},
      {"a link to the start folder",
       [top](FakeFtpServer& s, Downloader&) {
         s.setListing("sub", folderLine("up"));
         s.setListing("sub/up", top);
       },
       "sub/up: not entered, lists the same entries as .", 1},
      {"folders nested without end",
       [](FakeFtpServer& s, Downloader&) {
         std::string path = "sub";
         for (std::size_t level = 1; level <= 1000; ++level, path += "/d") {
           s.setListing(path, sizedFolderLine(level));
         }
       },
       deepest + ": not entered, deeper than 1000 folder levels", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFtpServer server;
    server.setListing("", top);
    server.setFile("top.bin", "data");
    TempDir dir;
    Downloader job = quickJob(server.port(), dir.path());
    job.recurse = true;
    c.setUp(server, job);
    const JobRun run = runJob(job);
    const std::size_t at = run.log.find(errorLine(c.note));
    if (at == std::string::npos) {
      ADD_FAILURE() << run.log;
      continue;
    }
    EXPECT_EQ(run.log.find(errorLine(c.note), at + 1), std::string::npos) << "said once";
    EXPECT_EQ(job.savedCount, c.saved);
    if (c.saved == 0) {
      EXPECT_EQ(run.log.substr(at + errorLine(c.note).size()), noMatch);
    }
  }
}

// Once the scan's session cannot be opened again within its tries, the folders still to list
// fail at once for that reason, without a ladder of tries each.
TEST(DownloaderRetryTest, ADeadServerFailsTheFoldersStillToListAtOnce) {
  FakeFtpServer server;
  server.setListing("", folderLine("one") + folderLine("two") + folderLine("three"));
  server.setListing("one", droppedSession());
  server.refuseSessions(1000, "421 Down.", 1);
  TempDir dir;
  Downloader job = quickJob(server.port(), dir.path());
  job.recurse = true;
  const JobRun run = runJob(job);
  const std::string gone = "Unable to connect to 127.0.0.1 421 Down.";
  for (const char* folder : {"one", "two", "three"}) {
    EXPECT_NE(run.log.find(errorLine(std::string("Listing of ") + folder + " failed: " + gone)),
              std::string::npos)
        << run.log;
  }
  EXPECT_EQ(run.log.find("Retrying the listing of two"), std::string::npos) << run.log;
  EXPECT_EQ(server.connectionsAccepted(), 4);  // the first, and one per further try of "one"
}

TEST(DownloaderRetryTest, NamesListedTwiceOrShapedLikeAPartFile) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.bin", 4) + fileLine("a.bin", 4) + fileLine("a.bin", 4) +
                            fileLine(".a.bin.marlowick-part", 4));
  server.setFile("a.bin", "data");
  server.setFile(".a.bin.marlowick-part", "evil");
  TempDir dir;
  Downloader job = quickJob(server.port(), dir.path());
  job.connections = 2;
  const JobRun run = runJob(job);
  EXPECT_EQ(job.savedCount, 1u);
  EXPECT_EQ(server.commandCount("RETR a.bin"), 1u);
  EXPECT_EQ(server.commandCount("RETR .a.bin.marlowick-part"), 0u);
  EXPECT_EQ(readFile(dir.file("a.bin")), "data");
  EXPECT_NE(run.log.find(errorLine("Unsafe remote name, not downloaded: .a.bin.marlowick-part")),
            std::string::npos);
}

// The job's end stops it wherever it is: a transfer in flight keeps its part file, which the next
// run with --resume=true continues, a pause before a further try is cut short, and files not
// started and folders not listed are left, each file with its Error line.
TEST(DownloaderRetryTest, TheDeadlineStopsTheJobAndTheNextRunContinues) {
  using namespace std::chrono_literals;
  const auto stopped = [](const char* name) {
    return errorLine(std::string("Download ") + name + " failed: deadline reached");
  };
  FakeTransfer slow = whole();
  slow.pauseAt = {1000};
  slow.pause = 4s;
  struct Case {
    const char* name;
    std::function<void(FakeFtpServer&, Downloader&)> setUp;
    std::size_t kept;  // bytes in a.bin's part file after the first run
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"a file sent slowly",
       [&](FakeFtpServer& s, Downloader&) {
         s.setFileTries("a.bin", {slow, whole()});
       },
       1000,
       {stopped("a.bin"), stopped("b.bin"), stopped("c.bin")}},
      {"a long pause before the next try",
       [](FakeFtpServer& s, Downloader& job) {
         s.setFileTries("a.bin", {cutAt(1000, "426 Connection closed."), whole()});
         job.firstPause = 20s;
       },
       1000,
       {" Retrying a.bin in 20 s (1/3): 426 Connection closed.", stopped("a.bin")}},
      {"a folder listed slowly",
       [&](FakeFtpServer& s, Downloader& job) {
         s.setListing("", fileLine("a.bin", kData.size()) + folderLine("sub") +
                              fileLine("b.bin", kData.size()));
         FakeTransfer listing = slow;
         listing.data = fileLine("c.bin", kData.size()) + fileLine("d.bin", kData.size());
         listing.pauseAt = {10};
         s.setListing("sub", listing);
         job.recurse = true;
       },
       0,
       {errorLine("Listing of sub failed: deadline reached"),
        errorLine("Scan stopped: deadline reached, folders not yet listed are left out"),
        stopped("a.bin")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ThreeFiles served;
    TempDir dir;
    Downloader job = quickJob(served.server.port(), dir.path());
    job.deadline = 1;
    c.setUp(served.server, job);
    const auto start = std::chrono::steady_clock::now();
    const JobRun run = runJob(job);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(job.record->status(), RequestStatus::deadline);
    EXPECT_EQ(job.savedCount, 0u);
    for (const std::string& line : c.lines)
      EXPECT_NE(run.log.find(line), std::string::npos) << run.log;
    EXPECT_EQ(served.server.commandCount("RETR b.bin"), 0u);
    const std::string part = dir.file(".a.bin.marlowick-part");
    EXPECT_EQ(platform::fileSize(part).value_or(0), c.kept);
    if (c.kept == 0) continue;
    Downloader next = quickJob(served.server.port(), dir.path());
    next.resume = true;
    runJob(next);
    EXPECT_EQ(next.savedCount, 3u);
    EXPECT_EQ(served.server.commandsWithVerb("REST"), std::vector<std::string>{"REST 1000"});
    EXPECT_EQ(readFile(dir.file("a.bin")), kData);
  }
}

}  // namespace
