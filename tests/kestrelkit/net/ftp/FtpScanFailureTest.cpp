#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpScan.h"
#include "tests/kestrelkit/net/ftp/FtpScanListings.h"

namespace kestrelkit::net::ftp {
namespace {

using scantest::file;
using scantest::folder;
using scantest::ListingFtp;
using scantest::namesOf;
using Names = std::vector<std::string>;

TEST(FtpScanFailure, RefusedListingIsAnEmptyFolder) {
  ListingFtp ftp;  // "locked" has no listing: refused
  ftp.listings[""] = {folder("locked"), file("a.txt"), folder("open")};
  ftp.listings["open"] = {file("b.txt")};
  FtpScan scan(ftp);
  scan.scan("", true);
  EXPECT_EQ(namesOf(scan.files()), (Names{"a.txt", "open/b.txt"}));
  EXPECT_EQ(namesOf(scan.folders()), (Names{"locked", "open"}));
  EXPECT_EQ(scan.errors(), (Names{"Listing of locked failed: refused"}));
}

TEST(FtpScanFailure, RefusedStartFolderGivesEmptyLists) {
  ListingFtp ftp;
  FtpScan scan(ftp);
  scan.scan("nowhere", true);
  EXPECT_TRUE(scan.files().empty());
  EXPECT_TRUE(scan.folders().empty());
  EXPECT_EQ(scan.errors(), (Names{"Listing of nowhere failed: refused"}));
  EXPECT_EQ(ftp.listed, (Names{"nowhere"}));
}

TEST(FtpScanFailure, FailingListingIsRecordedAndTheParentGoesOn) {
  ListingFtp ftp;
  ftp.listings[""] = {folder("sub"), file("a.txt")};
  ftp.listings["sub"] = {file("b.txt"), folder("bad"), file("c.txt"), folder("worse")};
  ftp.listings["sub/worse"] = {file("d.txt")};
  ftp.broken = {"sub/bad"};
  FtpScan scan(ftp);
  scan.scan("", true);
  EXPECT_EQ(namesOf(scan.files()), (Names{"sub/b.txt", "sub/c.txt", "sub/worse/d.txt", "a.txt"}));
  EXPECT_EQ(namesOf(scan.folders()), (Names{"sub", "sub/bad", "sub/worse"}));
  EXPECT_EQ(scan.errors(), (Names{"listing sub/bad broke"}));
}

TEST(FtpScanFailure, FailingStartFolderIsRecorded) {
  ListingFtp ftp;
  ftp.broken = {""};
  FtpScan scan(ftp);
  scan.scan("", true);
  EXPECT_TRUE(scan.files().empty());
  EXPECT_EQ(scan.errors(), (Names{"listing  broke"}));
}

// A failure while testing a file abandons the rest of that file's folder only.
TEST(FtpScanFailure, FailingFilterAbandonsTheRestOfItsFolder) {
  ListingFtp ftp;
  ftp.listings[""] = {folder("sub"), file("a.txt")};
  ftp.listings["sub"] = {file("b.txt"), folder("in"), file("poison"), file("c.txt"),
                         folder("never")};
  ftp.listings["sub/in"] = {file("poison"), file("unseen.txt")};
  FtpScan scan(ftp);
  scan.scanWith(
      "",
      [](FtpFileInfo info) {
        if (info.name.ends_with("poison")) throw std::runtime_error("bad " + info.name);
        return true;
      },
      true);
  EXPECT_EQ(namesOf(scan.files()), (Names{"sub/b.txt", "a.txt"}));
  EXPECT_EQ(namesOf(scan.folders()), (Names{"sub", "sub/in"}));
  EXPECT_EQ(scan.errors(), (Names{"bad sub/in/poison", "bad sub/poison"}));
  EXPECT_EQ(ftp.listed, (Names{"", "sub", "sub/in"}));
}

// A hostile server may name a folder so that walking it would leave the start folder; such a
// folder is never entered. Files so named go on to the caller, which refuses to store them.
TEST(FtpScanFailure, FoldersLeadingOutOfTheirFolderAreNotEntered) {
  ListingFtp ftp;
  ftp.listings[""] = {file("..\\..\\evil.txt"),
                      folder("a/.."),
                      file("x/../../y"),
                      file("..."),
                      file("..a"),
                      folder("ok.."),
                      folder("..")};
  ftp.listings["ok.."] = {file("..\\z"), folder("..\\up")};
  FtpScan scan(ftp);
  scan.scan("", true);
  EXPECT_EQ(namesOf(scan.files()), (Names{"../../evil.txt", "x/../../y", "...", "..a", "ok../../z"}));
  EXPECT_EQ(namesOf(scan.folders()), (Names{"ok.."}));
  EXPECT_EQ(ftp.listed, (Names{"", "ok.."}));
  EXPECT_EQ(scan.errors(), (Names{"a/..: name leads out of its folder",
                                  "ok../../up: name leads out of its folder",
                                  "..: name leads out of its folder"}));
}

/// A chain of `levels` nested folders "d", each also holding a file "f" as long as its depth.
void serveChain(ListingFtp& ftp, int levels) {
  ftp.generate = [levels](const std::string& path) {
    int depth = path.empty() ? 0 : static_cast<int>((path.size() + 1) / 2);
    std::vector<FtpFileInfo> listing;
    if (depth < levels) listing.push_back(folder("d"));
    listing.push_back(file("f", depth));
    return listing;
  };
}

/// Runs `work` on a thread with a stack of `bytes`, so that a walk whose stack use grows with
/// the depth of the tree fails here instead of only on deeper trees.
void runOnSmallStack(std::size_t bytes, std::function<void()> work) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, bytes), 0);
  pthread_t thread;
  auto run = [](void* argument) -> void* {
    (*static_cast<std::function<void()>*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, &work), 0);
  pthread_attr_destroy(&attributes);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

TEST(FtpScanFailure, VeryDeepTreeIsWalkedWithoutExhaustingTheStack) {
  ListingFtp ftp;
  serveChain(ftp, 5000);
  FtpScan scan(ftp);
  scan.maxDepth = kOff;
  runOnSmallStack(256 * 1024, [&scan] { scan.scan("", true); });
  ASSERT_EQ(scan.folders().size(), 5000u);
  ASSERT_EQ(scan.files().size(), 5001u);
  // Pre-order: the deepest file comes first, the top-level one last.
  EXPECT_EQ(scan.files().front().name.size(), 5000u * 2 + 1);
  EXPECT_EQ(scan.files().back().name, "f");
  EXPECT_TRUE(scan.errors().empty());
}

TEST(FtpScanFailure, DepthBoundStopsAServerNestingFoldersForEver) {
  ListingFtp ftp;
  // Every folder lists a folder inside itself, whatever its path, each a little different.
  ftp.generate = [](const std::string& path) {
    return std::vector<FtpFileInfo>{scantest::entry("loop", FtpFileType::folder, path.size())};
  };
  FtpScan scan(ftp);
  ASSERT_EQ(scan.maxDepth, 1000);
  scan.scan("", true);
  // Levels 1 to 1000 are entered; the folder met at level 1001 is recorded, not entered.
  EXPECT_EQ(scan.folders().size(), 1001u);
  EXPECT_EQ(ftp.listed.size(), 1001u);
  ASSERT_EQ(scan.errors().size(), 1u);
  EXPECT_TRUE(
      scan.errors()[0].ends_with("/loop: not entered, deeper than 1000 "
                                 "folder levels"));
}

TEST(FtpScanFailure, DepthBoundLeavesShallowerFoldersAlone) {
  struct Case {
    std::int64_t maxDepth;
    std::size_t listed;
    std::size_t folders;
    std::size_t errors;
  };
  for (const Case& c : {Case{0, 1, 1, 1}, Case{1, 2, 2, 1}, Case{3, 4, 3, 0}, Case{4, 4, 3, 0}}) {
    SCOPED_TRACE(c.maxDepth);
    ListingFtp ftp;
    serveChain(ftp, 3);
    FtpScan scan(ftp);
    scan.maxDepth = c.maxDepth;
    scan.scan("", true);
    EXPECT_EQ(ftp.listed.size(), c.listed);
    EXPECT_EQ(scan.folders().size(), c.folders);
    EXPECT_EQ(scan.errors().size(), c.errors);
    // The walk goes on after a folder left out: the upper files are all there.
    EXPECT_EQ(scan.files().size(), c.listed);
  }
}

// A link to a folder above, served as a folder, lists what that folder lists: it is not entered,
// or the walk would go round it until the depth bound.
TEST(FtpScanFailure, FoldersListingTheSameAsOneAboveAreNotEntered) {
  struct Case {
    const char* what;
    std::map<std::string, std::vector<FtpFileInfo>> listings;
    Names files;
    Names errors;
  };
  const std::vector<Case> cases = {
      {"link to the parent's parent",
       {{"", {file("a"), folder("sub")}}, {"sub", {file("b"), folder("up")}},
        {"sub/up", {file("a"), folder("sub")}}},
       {"a", "sub/b"},
       {"sub/up: not entered, lists the same entries as ."}},
      {"link to its own folder",
       {{"", {folder("bin")}}, {"bin", {file("ls"), folder("X11")}},
        {"bin/X11", {file("ls"), folder("X11")}}},
       {"bin/ls"},
       {"bin/X11: not entered, lists the same entries as bin"}},
      {"the same as a folder beside it is walked",
       {{"", {folder("x"), folder("y")}}, {"x", {file("f")}}, {"y", {file("f")}}},
       {"x/f", "y/f"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ListingFtp ftp;
    ftp.listings = c.listings;
    FtpScan scan(ftp);
    scan.scan("", true);
    EXPECT_EQ(namesOf(scan.files()), c.files);
    EXPECT_EQ(scan.errors(), c.errors);
  }
}

// A listing without end fails its folder at the bound; the walk goes on.
TEST(FtpScanFailure, AListingBeyondTheEntryBoundFailsItsFolder) {
  ListingFtp ftp;
  ftp.listings[""] = {folder("sub"), file("a")};
  ftp.listings["sub"] = {file("1"), file("2"), file("3"), file("4")};
  FtpScan scan(ftp);
  scan.maxEntries = 3;
  scan.scan("", true);
  EXPECT_EQ(namesOf(scan.files()), (Names{"a"}));
  EXPECT_EQ(scan.errors(), (Names{"Listing of sub failed: more than 3 entries"}));
}

}  // namespace
}  // namespace kestrelkit::net::ftp
