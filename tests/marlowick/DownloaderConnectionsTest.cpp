// A job over several control connections: the same files, counts and messages as over one,
// each file's lines together, dropped connections, failures inside the loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <regex>
#include <sstream>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/Downloader.h"
#include "marlowick/SessionOpening.h"
#include "tests/marlowick/DownloaderJobSupport.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/PyFtpServer.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/TempDir.h"

namespace {

using kestrelkit::net::ftp::FtpLib;
using marlowick::Downloader;
using marlowick::openSession;
using marlowick::SessionKind;
using marlowick::SessionOpening;
using marlowick_test::fileLine;
using marlowick_test::folderLine;
using marlowick_test::jobFor;
using marlowick_test::JobRun;
using marlowick_test::runJob;
using testing_support::FakeFtpServer;
using testing_support::PyFtpServer;
using testing_support::randomBytes;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
using Lines = std::vector<std::string>;

Lines linesOf(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Lines sorted(Lines lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string fileName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "f%02d.bin", i);
  return name;
}

/// A fake server with `count` files in its start folder; the file `missing` is listed but its
/// retrieval is refused.
struct ServedFiles {
  explicit ServedFiles(int count, int missing = -1) {
    std::string listing;
    for (int i = 0; i < count; ++i) {
      contents.push_back(randomBytes(1000 + 997 * i, i));
      listing += fileLine(fileName(i), contents.back().size());
      if (i != missing) server.setFile(fileName(i), contents.back());
    }
    server.setListing("", listing);
  }

  FakeFtpServer server;
  std::vector<std::string> contents;
};

TEST(DownloaderConnections, SameFilesCountsAndMessagesAsOneConnection) {
  ServedFiles served(24, 7);
  TempDir one;
  Downloader single = jobFor(served.server.port(), one.path());
  JobRun reference = runJob(single);
  ASSERT_TRUE(reference.result);
  EXPECT_EQ(single.savedCount, 23u);

  TempDir four;
  Downloader shared = jobFor(served.server.port(), four.path());
  shared.connections = 4;
  const int acceptedBefore = served.server.connectionsAccepted();
  JobRun run = runJob(shared);
  ASSERT_TRUE(run.result);
  EXPECT_EQ(shared.savedCount, 23u);
  EXPECT_EQ(served.server.connectionsAccepted() - acceptedBefore, 4);
  for (int i = 0; i < 24; ++i) {
    SCOPED_TRACE(fileName(i));
    EXPECT_TRUE(readFile(four.file(fileName(i))) == (i == 7 ? "" : served.contents[i]));
  }
  // Every line once, whatever the order, on the console and in the log.
  EXPECT_EQ(sorted(linesOf(run.console)), sorted(linesOf(reference.console)));
  EXPECT_EQ(sorted(linesOf(run.log)), sorted(linesOf(reference.log)));
  // The failure follows its own file's line.
  const Lines console = linesOf(run.console);
  auto announced = std::find(console.begin(), console.end(), " Downloading f07.bin 8/24 ...");
  ASSERT_NE(announced, console.end());
  ASSERT_NE(announced + 1, console.end());
  EXPECT_EQ(*(announced + 1), "Download f07.bin failed: 550 No such file or directory.");
  // Counted over both jobs: each connection asked for UTF-8 names, only the first one of each
  // job scanned, and each file was asked for once per job.
  EXPECT_EQ(served.server.commandsWithVerb("OPTS").size(), 1u + 4u);
  EXPECT_EQ(served.server.commandsWithVerb("LIST").size(), 1u + 1u);
  EXPECT_EQ(served.server.commandsWithVerb("RETR").size(), 24u + 24u);
}

// A file whose data never comes holds its connection only as long as the time limit: the job
// ends with every other file saved and that one failed with the reason.
TEST(DownloaderConnections, ASilentTransferEndsAtTheLimit) {
  ServedFiles served(8);
  testing_support::FakeTransfer silent;
  silent.data = served.contents[3];
  silent.pauseAt = {0};
  silent.pause = std::chrono::seconds(20);
  served.server.setFile(fileName(3), silent);
  TempDir dir;
  Downloader job = jobFor(served.server.port(), dir.path());
  job.connections = 4;
  job.timeout = 1;
  const auto start = std::chrono::steady_clock::now();
  JobRun run = runJob(job);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  EXPECT_EQ(job.savedCount, 7u);
  EXPECT_NE(run.log.find("Download f03.bin failed: no data for 1 s"), std::string::npos)
      << run.log;
}

TEST(DownloaderConnections, ADroppedConnectionLeavesTheOthersTheWork) {
  struct Case {
    int allowed;  // extra connections that may open
    int refused;  // error lines expected
  };
  for (const Case& c : {Case{2, 1}, Case{0, 3}}) {
    SCOPED_TRACE(c.allowed);
    ServedFiles served(12);
    TempDir dir;
    // The first session is served; of the three extra ones only `allowed` are.
    served.server.refuseSessions(3 - c.allowed, "421 Refused for the test.", 1 + c.allowed);
    Downloader job = jobFor(served.server.port(), dir.path());
    job.connections = 4;
    job.retries = 0;
    JobRun run = runJob(job);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(job.savedCount, 12u);
    for (int i = 0; i < 12; ++i) EXPECT_TRUE(readFile(dir.file(fileName(i))) == served.contents[i]);
    const std::regex refused(
        "Connection [234] of 4 not used: Unable to connect to 127.0.0.1 421 Refused for the test.");
    int refusals = 0;
    for (const std::string& line : linesOf(run.console)) {
      if (std::regex_match(line, refused)) ++refusals;
    }
    EXPECT_EQ(refusals, c.refused);
    EXPECT_EQ(served.server.connectionsAccepted(), 4);
  }
}

TEST(DownloaderConnections, AConnectionLostForGoodHandsItsFileToTheOthers) {
  struct Case {
    std::vector<int> dropping;  // files whose tries drop the session
    unsigned saved;             // 0: every try drops; else only the first
  };
  for (const Case& c : {Case{{3}, 12u}, Case{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 0u}}) {
    SCOPED_TRACE(c.dropping.size());
    ServedFiles served(12);
    for (int i : c.dropping) {
      testing_support::FakeTransfer dropped;
      dropped.dropControlAtStart = true;
      testing_support::FakeTransfer whole;
      whole.data = served.contents[i];
      served.server.setFileTries(fileName(i), c.saved == 0 ? std::vector{dropped}
                                                           : std::vector{dropped, whole});
    }
    // No session after the first four: a lost connection cannot come back.
    served.server.refuseSessions(1000, "421 Gone for the test.", 4);
    TempDir dir;
    Downloader job = jobFor(served.server.port(), dir.path());
    job.connections = 4;
    job.retries = 1;
    job.firstPause = std::chrono::milliseconds(10);
    const JobRun run = runJob(job);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(job.savedCount, c.saved);
    // One Error line for each file not saved; the last connection standing gives up too.
    int failed = 0;
    for (int i = 0; i < 12; ++i) {
      if (c.saved != 0) {
        EXPECT_EQ(readFile(dir.file(fileName(i))), served.contents[i]);
      }
      failed += run.console.find("\nDownload " + fileName(i) + " failed: ") != std::string::npos;
    }
    EXPECT_EQ(failed, 12 - static_cast<int>(c.saved)) << run.console;
    EXPECT_EQ(run.console.find("failed: Unable to connect to 127.0.0.1 421 Gone for the test.") !=
                  std::string::npos,
              c.saved == 0);
  }
}

TEST(DownloaderConnections, AnExtraConnectionTakesTheFirstOnesSteps) {
  FakeFtpServer server;
  server.setReply("CWD gone", "550 No such folder.");
  struct Case {
    const char* name;
  std::function<void(Downloader&)> setUp;
    bool opened;
    std::string failure;
  };
  const Case cases[] = {
      {"all well", [](Downloader& job) { job.encoding = Downloader::kUtf8; }, true, ""},
      {"all well with a folder",
       [](Downloader& job) {
         job.encoding = Downloader::kUtf8;
         job.remote = "pub";
       },
       true, ""},
      {"the first connection got no UTF-8", [](Downloader&) {}, false,
       "the server's answer to UTF-8 names differs: 200 OK."},
      {"folder change refused",
       [](Downloader& job) {
         job.encoding = Downloader::kUtf8;
         job.remote = "gone";
       },
       false, "working directory changed to gone failure, 550 No such folder."},
      {"login refused",
       [](Downloader& job) {
         job.encoding = Downloader::kUtf8;
         job.password = "wrong";
       },
       false, "Login failure 530 Login incorrect."},
      {"nobody listening",
       [](Downloader& job) {
         job.encoding = Downloader::kUtf8;
         job.port = 1;
       },
       false, "Unable to connect to 127.0.0.1 Connection refused"},
  };
  server.setReply("PASS wrong", "530 Login incorrect.");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Downloader job = jobFor(server.port(), "/nowhere");
    c.setUp(job);
    FtpLib ftp;
    const SessionOpening opening = openSession(ftp, job, SessionKind::later);
    EXPECT_EQ(opening.ok(), c.opened);
    EXPECT_EQ(opening.failure, c.failure);
  }
}

/// Fails with a non-standard error when making the folders of its `failAt`-th file.
class FailingFolders : public Downloader {
 public:
  explicit FailingFolders(int failAt) : failAt_(failAt) {}
  void createFolders(const std::string& localPath) override {
    if (++calls_ == failAt_) throw 7;
    Downloader::createFolders(localPath);
  }

 private:
  int failAt_;
  std::atomic<int> calls_{0};
};

TEST(DownloaderConnections, AnErrorInTheLoopStopsEveryConnectionAndKeepsTheCount) {
  ServedFiles served(30);
  TempDir dir;
  FailingFolders job(10);
  static_cast<Downloader&>(job) = jobFor(served.server.port(), dir.path());
  job.connections = 3;
  JobRun run = runJob(job);
  EXPECT_FALSE(run.result);
  const Lines console = linesOf(run.console);
  const auto caught = std::count_if(console.begin(), console.end(), [](const std::string& line) {
    return line.rfind("Download catch ", 0) == 0;
  });
  EXPECT_EQ(caught, 1);
  // Every announced file was saved and counted; none was started after the failure was seen.
  const auto announced = std::count_if(console.begin(), console.end(), [](const std::string& l) {
    return l.rfind(" Downloading ", 0) == 0;
  });
  EXPECT_EQ(job.savedCount, static_cast<std::uint32_t>(announced));
  EXPECT_GE(announced, 9);
  EXPECT_LT(announced, 30);
  int present = 0;
  for (int i = 0; i < 30; ++i) present += readFile(dir.file(fileName(i))).empty() ? 0 : 1;
  EXPECT_EQ(present, announced);
}

TEST(DownloaderConnections, ListingOnlyOrNothingFoundNeedsNoExtraConnection) {
  {
    ServedFiles served(3);
    TempDir dir;
    Downloader job = jobFor(served.server.port(), dir.path());
    job.connections = 4;
    job.justPrint = true;
    JobRun run = runJob(job);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(served.server.connectionsAccepted(), 1);
  }
  {
    FakeFtpServer server;
    server.setListing("", "");
    TempDir dir;
    Downloader job = jobFor(server.port(), dir.path());
    job.connections = 4;
    JobRun run = runJob(job);
    EXPECT_FALSE(run.result);
    EXPECT_NE(run.console.find("No files matched on remote server: 127.0.0.1"), std::string::npos);
    // The extra connections logged in meanwhile, were given nothing and are closed.
    EXPECT_TRUE(server.waitForClosedConnections(server.connectionsAccepted()));
    EXPECT_TRUE(server.commandsWithVerb("RETR").empty());
  }
}

TEST(DownloaderConnections, FetchingStartsWhileTheScanGoesOn) {
  FakeFtpServer server;
  server.setListing("", fileLine("a.bin", 3) + folderLine("slow") + folderLine("later"));
  testing_support::FakeTransfer slow;
  slow.data = fileLine("x.bin", 1);
  slow.pauseAt = {0};
  // The listing of slow/ holds until a.bin has been asked for, or 10 s have passed.
  slow.pause = std::chrono::seconds(10);
  slow.resumeWhen = [&server] {
    const Lines fetches = server.commandsWithVerb("RETR");
    return std::find(fetches.begin(), fetches.end(), "RETR a.bin") != fetches.end();
  };
  server.setListing("slow", slow);
  server.setListing("later", fileLine("y.bin", 1));
  server.setFile("a.bin", "aaa");
  server.setFile("slow/x.bin", "x");
  server.setFile("later/y.bin", "y");
  TempDir dir;
  Downloader job = jobFor(server.port(), dir.path());
  job.recurse = true;
  job.connections = 2;
  JobRun run = runJob(job);
  ASSERT_TRUE(run.result);
  EXPECT_EQ(job.savedCount, 3u);
  const Lines commands = server.commands();
  const auto fetched = std::find(commands.begin(), commands.end(), "RETR a.bin");
  const auto listed = std::find(commands.begin(), commands.end(), "LIST later");
  ASSERT_NE(fetched, commands.end());
  ASSERT_NE(listed, commands.end());
  EXPECT_LT(fetched - commands.begin(), listed - commands.begin());
  // Announced with the final count all the same, as the first file taken. (Which connection's
  // report reaches the console first depends on which file ends first.)
  const Lines console = linesOf(run.console);
  EXPECT_NE(std::find(console.begin(), console.end(), " Downloading a.bin 1/3 ..."), console.end())
      << run.console;
  EXPECT_EQ(readFile(dir.file("later/y.bin")), "y");
}

TEST(DownloaderConnections, RealServerTreeByteForByte) {
  TempDir root;
  std::vector<std::string> names;
  for (int folder = 0; folder < 4; ++folder) {
    for (int i = 0; i < 10; ++i) {
      names.push_back("d" + std::to_string(folder) + "/sub/" + fileName(i));
      writeFile(root.file(names.back()), randomBytes(500 * i + folder, folder * 10 + i));
    }
  }
  names.push_back("big.bin");
  writeFile(root.file("big.bin"), randomBytes(3 << 20, 99));
  PyFtpServer server(root.path());

  TempDir one;
  Downloader single = jobFor(server.port(), one.path());
  single.recurse = true;
  JobRun reference = runJob(single);
  ASSERT_TRUE(reference.result);

  TempDir three;
  Downloader shared = jobFor(server.port(), three.path());
  shared.recurse = true;
  shared.connections = 3;
  JobRun run = runJob(shared);
  ASSERT_TRUE(run.result);
  EXPECT_EQ(shared.savedCount, names.size());
  EXPECT_EQ(single.savedCount, names.size());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(readFile(three.file(name)) == readFile(root.file(name)));
  }
  EXPECT_EQ(sorted(linesOf(run.console)), sorted(linesOf(reference.console)));
  EXPECT_EQ(sorted(linesOf(run.log)), sorted(linesOf(reference.log)));
  server.stop();
}

}  // namespace

/// A tree of folders whose listings answer after different pauses: the start folder holds
/// d0..d3 and a file, each di holds s0..s2 and a file, each leaf two files. `slow` folders
/// answer after 300 ms. With `mlsd`, the server offers MLSD and lists the same by it.
struct ServedTree {
  explicit ServedTree(const std::vector<std::string>& slow = {}, bool mlsd = false) : mlsd(mlsd) {
    if (mlsd) server.setReply("FEAT", "211-Features:\n MLST type*;size*;modify*;\n211 End");
    std::string top = file("", "top.txt", 11);
    for (int i = 0; i < 4; ++i) {
      const std::string d = "d" + std::to_string(i);
      top += folderLine(d);
      std::string middle = file(d + "/", "m" + std::to_string(i) + ".txt", 20 + i);
      for (int j = 0; j < 3; ++j) {
        const std::string s = d + "/s" + std::to_string(j);
        middle += folderLine(s.substr(3));
        serve(s, file(s + "/", "a.txt", 5) + file(s + "/", "b.txt", 6), slow, (i * 3 + j) % 4);
      }
      serve(d, middle, slow, i % 3);
    }
    serve("", top, slow, 0);
  }

  std::string file(const std::string& folder, const std::string& name, std::size_t size) {
    server.setFile(folder + name, std::string(size, 'x'));
    return fileLine(name, size);
  }

  void serve(const std::string& path, std::string data, const std::vector<std::string>& slow,
             int step) {
    testing_support::FakeTransfer listing;
    listing.data = std::move(data);
    listing.pauseAt = {0};
    const bool isSlow = std::find(slow.begin(), slow.end(), path) != slow.end();
    listing.pause = std::chrono::milliseconds(isSlow ? 300 : 15 * step);
    if (mlsd) server.setMlsdListing(path, mlsdOf(listing.data));
    server.setListing(path, listing);
  }

  /// The MLSD lines of the UNIX listing lines made by fileLine and folderLine.
  static std::string mlsdOf(const std::string& unixLines) {
    static const std::regex line("([-d])\\S+ +1? *\\S* *\\S* *\\S+ +(\\d+) Jan 01  2024 (.+)");
    std::string facts;
    for (std::string entry : linesOf(unixLines)) {
      if (!entry.empty() && entry.back() == '\r') entry.pop_back();
      std::smatch parts;
      if (!std::regex_match(entry, parts, line)) continue;
      facts += parts[1] == "d" ? "type=dir;" : "type=file;size=" + parts[2].str() + ";";
      facts += "modify=20240101000000; " + parts[3].str() + "\r\n";
    }
    return facts;
  }

  bool mlsd;
  FakeFtpServer server;
};

Lines filesOf(const Downloader& job) {
  Lines names;
  for (const auto& file : job.files) names.push_back(file.name);
  return names;
}

/// The console lines that tell what the walk selected and met, in order.
Lines walkLines(const std::string& console) {
  Lines said;
  for (const std::string& line : linesOf(console)) {
    if (line.find(" found ") != std::string::npos || line.find("Listing of") != std::string::npos ||
        line.find("not entered") != std::string::npos) {
      said.push_back(line);
    }
  }
  return said;
}

// The other connections list folders ahead of the walk, yet the walk selects, says and limits
// exactly as over one connection, whichever listing answers first.
TEST(DownloaderConnections, ListingAheadKeepsTheWalksOrderAndLimits) {
  struct Case {
    const char* name;
    bool justPrint;
    std::int64_t maxfiles;
    std::int64_t maxfolders;
    std::size_t selected;
    bool mlsd = false;  // the others must list by MLSD too
  };
  constexpr std::int64_t off = kestrelkit::net::ftp::kOff;
  const Case cases[] = {
      {"list mode, whole tree", true, off, off, 25}, {"list mode, file limit", true, 9, off, 9},
      {"list mode, folder limit", true, off, 6, 9},  {"fetching, whole tree", false, off, off, 25},
      {"fetching, file limit", false, 13, off, 13},
      {"list mode by MLSD", true, off, off, 25, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServedTree tree({}, c.mlsd);
    // One folder is refused, one lists the same entries as its parent: their lines keep their
    // place.
    tree.server.setReply(c.mlsd ? "MLSD d2/s0" : "LIST d2/s0", "550 Permission denied.");
    tree.serve("d3/s2",
               fileLine("m3.txt", 23) + folderLine("s0") + folderLine("s1") + folderLine("s2"), {},
               1);
    Lines files[2];
    Lines said[2];
    const int connections[2] = {1, 4};
    for (int run = 0; run < 2; ++run) {
      TempDir dir;
      Downloader job = jobFor(tree.server.port(), dir.path());
      job.recurse = true;
      job.justPrint = c.justPrint;
      job.maxfiles = c.maxfiles;
      job.maxfolders = c.maxfolders;
      job.connections = connections[run];
      const int acceptedBefore = tree.server.connectionsAccepted();
      const std::size_t listedBefore = tree.server.commandsWithVerb("LIST").size();
      const JobRun result = runJob(job);
      EXPECT_TRUE(result.result);
      if (c.mlsd) {
        EXPECT_EQ(tree.server.commandsWithVerb("LIST").size(), listedBefore);
      }
      // Listing alone, too, the other connections open to list ahead.
      EXPECT_EQ(tree.server.connectionsAccepted() - acceptedBefore, connections[run]);
      files[run] = filesOf(job);
      said[run] = walkLines(result.console);
      EXPECT_EQ(files[run].size(), c.selected);
      if (!c.justPrint) {
        EXPECT_EQ(job.savedCount, c.selected);
      }
    }
    EXPECT_EQ(files[1], files[0]);
    EXPECT_EQ(said[1], said[0]);
  }
}

// A listing made ahead on a connection that drops is not lost: the walk lists that folder
// itself, and the connection comes back, or leaves the job to the others when it cannot.
TEST(DownloaderConnections, AFolderListedAheadOnALostConnectionIsListedAgain) {
  struct Case {
    const char* name;
    bool sessionsRefused;  // no session after the first four
  };
  for (const Case& c : {Case{"back again", false}, Case{"gone for good", true}}) {
    SCOPED_TRACE(c.name);
    // The walk waits on d0 while the others list d1 ahead; the first LIST d1 drops its session.
    ServedTree tree({"d0"});
    tree.server.setReplyOnce("LIST d1", "");
    if (c.sessionsRefused) tree.server.refuseSessions(1000, "421 Gone for the test.", 4);
    TempDir dir;
    Downloader job = jobFor(tree.server.port(), dir.path());
    job.recurse = true;
    job.connections = 4;
    const JobRun run = runJob(job);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(job.savedCount, 29u) << run.console;
    EXPECT_EQ(readFile(dir.file("d1/s2/b.txt")).size(), 6u);
    EXPECT_EQ(run.console.find("Listing of d1"), std::string::npos) << run.console;
    EXPECT_EQ(tree.server.commandCount("LIST d1"), 2u);
    // The session refused is the reconnect, or, when that came first, a later connection's.
    const bool refusedLine =
        run.log.find(" Reconnect to 127.0.0.1 failed: ") != std::string::npos ||
        run.log.find("not used: Unable to connect to 127.0.0.1 421") != std::string::npos;
    EXPECT_EQ(refusedLine, c.sessionsRefused) << run.log;
    EXPECT_EQ(tree.server.connectionsAccepted(), 5);
  }
}

// While the walk waits for a listing made on another connection, its own connection fetches the
// files already selected; when it is lost doing so for good, the file goes to the others and the
// walk goes on with the listings made ahead.
TEST(DownloaderConnections, TheWalksConnectionFetchesWhileAListingIsMadeElsewhere) {
  for (const bool lost : {false, true}) {
    SCOPED_TRACE(lost ? "lost while fetching" : "fetching");
    // The start folder holds a and d0, which the two other connections (logged in by then)
    // claim; while a is listed, by the walk or by one of them, the other claims d0. The walk
    // selects a's three files, then waits for the slower listing of d0.
    FakeFtpServer server;
    testing_support::FakeTransfer listing;
    listing.pauseAt = {0};
    listing.pause = std::chrono::seconds(5);
    listing.resumeWhen = [&server] { return server.commandCount("OPTS UTF8 ON") >= 3; };
    listing.data = folderLine("a") + folderLine("d0");
    server.setListing("", listing);
    listing.resumeWhen = nullptr;
    listing.pause = std::chrono::milliseconds(300);
    listing.data.clear();
    testing_support::FakeTransfer file;
    file.data = "abc";
    file.pauseAt = {0};
    file.pause = std::chrono::milliseconds(60);
    for (const char* name : {"f1", "f2", "f3"}) {
      listing.data += fileLine(name, 3);
      server.setFile(std::string("a/") + name, file);
    }
    server.setListing("a", listing);
    listing.data = fileLine("g", 3);
    listing.pause = std::chrono::milliseconds(900);
    server.setListing("d0", listing);
    server.setFile("d0/g", "g!!");
    if (lost) {
      server.dropConnectionOn(1, "RETR");
      server.refuseSessions(1000, "421 Gone for the test.", 3);
    }
    TempDir dir;
    Downloader job = jobFor(server.port(), dir.path());
    job.recurse = true;
    job.connections = 3;
    job.retries = 1;
    job.firstPause = std::chrono::milliseconds(10);
    const JobRun run = runJob(job);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(job.savedCount, 4u) << run.console;
    EXPECT_EQ(run.console.find("Error"), std::string::npos) << run.console;
    const Lines walk = server.commandsOfConnection(1);
    EXPECT_TRUE(std::any_of(walk.begin(), walk.end(),
                            [](const auto& line) { return line.rfind("RETR a/", 0) == 0; }))
        << "while d0 is listed elsewhere";
    EXPECT_EQ(std::count(walk.begin(), walk.end(), "LIST d0"), 0);
    EXPECT_EQ(server.commandsWithVerb("RETR").size(), lost ? 5u : 4u);
  }
}
