#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpScan.h"
#include "platform/Clock.h"
#include "tests/kestrelkit/net/ftp/FtpScanListings.h"

namespace kestrelkit::net::ftp {
namespace {

using scantest::file;
using scantest::folder;
using scantest::ListingFtp;
using scantest::namesOf;
using Names = std::vector<std::string>;

TEST(FtpScan, StartsWithSwitchedOffSettingsAndReadsTheClockOnce) {
  ListingFtp ftp;
  std::int64_t before = platform::utcTicksNow();
  FtpScan scan(ftp);
  std::int64_t after = platform::utcTicksNow();
  EXPECT_GE(scan.scanStart, before);
  EXPECT_LE(scan.scanStart, after);
  EXPECT_EQ(scan.minSize, ~std::uint64_t{0});
  EXPECT_EQ(scan.maxSize, ~std::uint64_t{0});
  EXPECT_EQ(scan.minAge, 9223372036854775807);
  EXPECT_EQ(scan.maxFiles, 9223372036854775807);
  EXPECT_EQ(scan.maxFolders, 9223372036854775807);
  EXPECT_FALSE(scan.recurse);

  std::int64_t start = scan.scanStart;
  platform::sleepMilliseconds(2);
  scan.scan("", true);
  EXPECT_EQ(scan.scanStart, start);
}

TEST(FtpScan, WalksDepthFirstInPreOrder) {
  ListingFtp ftp;
  ftp.listings[""] = {folder("sub"), file("a.txt"), folder("empty"), file("z.txt")};
  ftp.listings["sub"] = {file("b.txt"), folder("deeper"), file("c.txt")};
  ftp.listings["sub/deeper"] = {file("d.txt")};
  ftp.listings["empty"] = {};
  FtpScan scan(ftp);

  scan.scan("", true);
  EXPECT_EQ(namesOf(scan.files()),
            (Names{"sub/b.txt", "sub/deeper/d.txt", "sub/c.txt", "a.txt", "z.txt"}));
  EXPECT_EQ(namesOf(scan.folders()), (Names{"sub", "sub/deeper", "empty"}));
  EXPECT_EQ(ftp.listed, (Names{"", "sub", "sub/deeper", "empty"}));
  EXPECT_TRUE(scan.errors().empty());
}

TEST(FtpScan, WithoutRecursionListsOnlyTheStartFolder) {
  ListingFtp ftp;
  ftp.listings[""] = {folder("sub"), file("a.txt")};
  ftp.listings["sub"] = {file("b.txt")};
  FtpScan scan(ftp);

  scan.scan("", false);
  EXPECT_EQ(namesOf(scan.files()), (Names{"a.txt"}));
  EXPECT_EQ(namesOf(scan.folders()), (Names{"sub"}));
  EXPECT_EQ(ftp.listed, (Names{""}));
}

TEST(FtpScan, StartPathPrefixesEveryName) {
  struct Case {
    std::string start;
    Names files;
  };
  const std::vector<Case> cases = {
      {"sub", {"sub/in/x.txt", "sub/b.txt"}},
      // A start path ending in "/" is joined without a second "/".
      {"sub/", {"sub/in/x.txt", "sub/b.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    ListingFtp ftp;
    ftp.listings[c.start] = {folder("in"), file("b.txt")};
    ftp.listings["sub/in"] = {file("x.txt")};
    FtpScan scan(ftp);
    scan.scan(c.start, true);
    EXPECT_EQ(namesOf(scan.files()), c.files);
    EXPECT_EQ(namesOf(scan.folders()), (Names{"sub/in"}));
  }
}

TEST(FtpScan, SkipsEverythingButFilesAndFolders) {
  ListingFtp ftp;
  ftp.listings[""] = {scantest::entry(".", FtpFileType::currentFolder),
                      scantest::entry("..", FtpFileType::parentFolder),
                      scantest::entry("link", FtpFileType::unknown),  // a symbolic link
                      scantest::entry("odd", FtpFileType::other), file("kept.txt")};
  FtpScan scan(ftp);
  scan.scan("", true);
  EXPECT_EQ(namesOf(scan.files()), (Names{"kept.txt"}));
  EXPECT_TRUE(scan.folders().empty());
  EXPECT_EQ(ftp.listed, (Names{""}));
}

TEST(FtpScan, TurnsBackslashesIntoSlashes) {
  ListingFtp ftp;
  ftp.listings[""] = {file("a\\b.txt"), folder("x\\y")};
  ftp.listings["x/y"] = {file("c\\d.txt")};
  FtpScan scan(ftp);
  scan.scan("", true);
  EXPECT_EQ(namesOf(scan.files()), (Names{"a/b.txt", "x/y/c/d.txt"}));
  EXPECT_EQ(namesOf(scan.folders()), (Names{"x/y"}));
}

TEST(FtpScan, PatternsMatchTheRelativePath) {
  struct Case {
    const char* what;
    Names includes;
    Names excludes;
    Names files;
  };
  const std::vector<Case> cases = {
      {"no patterns", {}, {}, {"sub/a.txt", "sub/deep/x.txt", "sub/n.log", "A.TXT", "c.log"}},
      {"bare name only at the top, any case", {"a.txt"}, {}, {"A.TXT"}},
      {"star crosses folders", {"*.txt"}, {}, {"sub/a.txt", "sub/deep/x.txt", "A.TXT"}},
      {"members are trimmed", {" \t*.log "}, {}, {"sub/n.log", "c.log"}},
      {"any member", {"*.log", "sub/deep/*"}, {}, {"sub/deep/x.txt", "sub/n.log", "c.log"}},
      {"excluded folder is still entered",
       {},
       {"sub", "deep"},
       {"sub/a.txt", "sub/deep/x.txt", "sub/n.log", "A.TXT", "c.log"}},
      {"exclude wins over include", {"*.txt"}, {"sub/*"}, {"A.TXT"}},
      {"exclude alone", {}, {"*.log"}, {"sub/a.txt", "sub/deep/x.txt", "A.TXT"}},
      {"only empty members include nothing", {"", ""}, {}, {}},
      {"empty exclude member rejects nothing", {"*.log"}, {""}, {"sub/n.log", "c.log"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ListingFtp ftp;
    ftp.listings[""] = {folder("sub"), file("A.TXT"), file("c.log")};
    ftp.listings["sub"] = {file("a.txt"), folder("deep"), file("n.log")};
    ftp.listings["sub/deep"] = {file("x.txt")};
    FtpScan scan(ftp);
    scan.includes = c.includes;
    scan.excludes = c.excludes;
    scan.scan("", true);
    EXPECT_EQ(namesOf(scan.files()), c.files);
    // Folders are never filtered.
    EXPECT_EQ(namesOf(scan.folders()), (Names{"sub", "sub/deep"}));
  }
}

TEST(FtpScan, SizeBoundsAreInclusiveAndUnknownSizesPass) {
  struct Case {
    std::uint64_t minSize;
    std::uint64_t maxSize;
    Names files;
  };
  constexpr std::uint64_t kOff = kUnknownSize;
  const std::vector<Case> cases = {
      {kOff, kOff, {"small", "exact", "large", "zero", "unknown"}},
      {10240, kOff, {"exact", "large", "unknown"}},
      {kOff, 10240, {"small", "exact", "zero", "unknown"}},
      {10240, 10240, {"exact", "unknown"}},
      {0, 0, {"zero", "unknown"}},
      {10241, 10239, {"unknown"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.minSize << ".." << c.maxSize);
    ListingFtp ftp;
    ftp.listings[""] = {file("small", 10239), file("exact", 10240), file("large", 10241),
                        file("zero", 0), file("unknown")};
    FtpScan scan(ftp);
    scan.minSize = c.minSize;
    scan.maxSize = c.maxSize;
    scan.scan("", false);
    EXPECT_EQ(namesOf(scan.files()), c.files);
  }
}

TEST(FtpScan, AgeBoundsCountFromScanStartAndUnknownTimesPass) {
  constexpr std::int64_t kStart = 638400000000000000;  // some day in 2024
  constexpr std::int64_t kMinute = ticks::kPerMinute;
  struct Case {
    std::int64_t minAge;
    std::int64_t maxAge;
    Names files;
  };
  const std::vector<Case> cases = {
      {kOff, kOff, {"61min", "60min", "59min", "future", "unknown", "ancient"}},
      {kOff, 60 * kMinute, {"60min", "59min", "future", "unknown"}},
      {60 * kMinute, kOff, {"61min", "60min", "unknown", "ancient"}},
      {60 * kMinute, 60 * kMinute, {"60min", "unknown"}},
      // A listed time in the future is a negative age.
      {-10 * kMinute, -1 * kMinute, {"future", "unknown"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.minAge << ".." << c.maxAge);
    ListingFtp ftp;
    ftp.listings[""] = {file("61min", 1, kStart - 61 * kMinute),
                        file("60min", 1, kStart - 60 * kMinute),
                        file("59min", 1, kStart - 59 * kMinute),
                        file("future", 1, kStart + 5 * kMinute), file("unknown", 1),
                        // So far back that the age does not fit in 64 bits.
                        file("ancient", 1, std::numeric_limits<std::int64_t>::min())};
    FtpScan scan(ftp);
    scan.scanStart = kStart;
    scan.minAge = c.minAge;
    scan.maxAge = c.maxAge;
    scan.scan("", false);
    EXPECT_EQ(namesOf(scan.files()), c.files);
  }
}

TEST(FtpScan, CallersFilterComesLastAndSeesTheRelativePath) {
  ListingFtp ftp;
  ftp.listings[""] = {folder("sub"), file("a.txt", 5), file("b.txt", 500)};
  ftp.listings["sub"] = {file("c.txt", 5)};
  FtpScan scan(ftp);
  scan.maxSize = 100;
  Names seen;
  scan.scanWith(
      "",
      [&seen](FtpFileInfo info) {
        seen.push_back(info.name);
        return info.name != "a.txt";
      },
      true);
  EXPECT_EQ(seen, (Names{"sub/c.txt", "a.txt"}));  // b.txt fails the size bound first
  EXPECT_EQ(namesOf(scan.files()), (Names{"sub/c.txt"}));
}

TEST(FtpScan, MaxFilesKeepsTheFirstInWalkOrder) {
  ListingFtp ftp;
  ftp.listings[""] = {file("1"), folder("s"), file("5"), file("6"), file("7")};
  ftp.listings["s"] = {file("2"), file("3"), file("4"), file("8"), file("9"), file("10")};
  for (std::int64_t limit : {0, 1, 3, 4, 10, 11}) {
    SCOPED_TRACE(limit);
    FtpScan scan(ftp);
    scan.maxFiles = limit;
    scan.scan("", true);
    const Names all = {"1", "s/2", "s/3", "s/4", "s/8", "s/9", "s/10", "5", "6", "7"};
    Names expected(all.begin(), all.begin() + std::min<std::int64_t>(limit, 10));
    EXPECT_EQ(namesOf(scan.files()), expected);
  }
}

TEST(FtpScan, MaxFilesCountsOnlyAcceptedFiles) {
  ListingFtp ftp;
  ftp.listings[""] = {file("a.log"), file("b.txt"), file("c.log"), file("d.txt"), file("e.txt")};
  FtpScan scan(ftp);
  scan.includes = {"*.txt"};
  scan.maxFiles = 2;
  scan.scan("", false);
  EXPECT_EQ(namesOf(scan.files()), (Names{"b.txt", "d.txt"}));
  EXPECT_EQ(ftp.handed, 4u) << "the listing stops once the limit is reached within it";
}

TEST(FtpScan, MaxFoldersStopsEveryLevelAtItsNextRecord) {
  struct Case {
    const char* what;
    std::int64_t maxFolders;
    bool recurse;
    Names listed;
    Names folders;
    Names files;
  };
  const std::vector<Case> cases = {
      // The folder that reached the limit is still listed, then stops at its first record.
      {"one, recursing", 1, true, {"", "f1"}, {"f1"}, {}},
      {"one, flat", 1, false, {""}, {"f1"}, {}},
      {"two, recursing", 2, true, {"", "f1", "f1/g"}, {"f1", "f1/g"}, {}},
      {"two, flat", 2, false, {""}, {"f1", "f2"}, {"a.txt"}},
      {"three, recursing",
       3,
       true,
       {"", "f1", "f1/g", "f2"},
       {"f1", "f1/g", "f2"},
       {"f1/g/x.txt", "f1/b.txt", "a.txt"}},
      {"zero", 0, true, {""}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ListingFtp ftp;
    ftp.listings[""] = {folder("f1"), file("a.txt"), folder("f2"), file("z.txt")};
    ftp.listings["f1"] = {folder("g"), file("b.txt")};
    ftp.listings["f1/g"] = {file("x.txt")};
    ftp.listings["f2"] = {file("y.txt")};
    FtpScan scan(ftp);
    scan.maxFolders = c.maxFolders;
    scan.scan("", c.recurse);
    EXPECT_EQ(ftp.listed, c.listed);
    EXPECT_EQ(namesOf(scan.folders()), c.folders);
    EXPECT_EQ(namesOf(scan.files()), c.files);
  }
}

TEST(FtpScan, FindByNameComparesTheLastComponentExactly) {
  ListingFtp ftp;
  ftp.listings[""] = {folder("a"), file("report.txt"), folder("b"), file("Report.txt")};
  ftp.listings["a"] = {file("report.txt"), file("old-report.txt")};
  ftp.listings["b"] = {file("report.txt.bak"), folder("report.txt")};
  ftp.listings["b/report.txt"] = {file("report.txt")};
  FtpScan scan(ftp);

  scan.findByName("", "report.txt", true);
  EXPECT_EQ(namesOf(scan.files()),
            (Names{"a/report.txt", "report.txt", "b/report.txt/report.txt"}));
  scan.findByName("", "report.txt", false);
  EXPECT_EQ(namesOf(scan.files()), (Names{"report.txt"}));

  // The patterns and bounds still apply.
  scan.excludes = {"b/*"};
  scan.findByName("", "report.txt", true);
  EXPECT_EQ(namesOf(scan.files()), (Names{"a/report.txt", "report.txt"}));
}

TEST(FtpScan, EveryScanStartsFromEmptyLists) {
  ListingFtp ftp;
  ftp.listings[""] = {folder("sub"), file("a.txt"), folder("gone")};
  ftp.listings["sub"] = {file("b.txt")};
  ftp.broken = {"gone"};
  FtpScan scan(ftp);

  scan.scan("", true);
  scan.scan("", true);
  EXPECT_EQ(namesOf(scan.files()), (Names{"sub/b.txt", "a.txt"}));
  EXPECT_EQ(namesOf(scan.folders()), (Names{"sub", "gone"}));
  EXPECT_EQ(scan.errors(), (Names{"listing gone broke"}));

  // A filter given to one scan is not kept by the next.
  scan.scanWith(
      "", [](FtpFileInfo) { return false; }, true);
  EXPECT_TRUE(scan.files().empty());
  scan.scan("", true);
  EXPECT_EQ(namesOf(scan.files()), (Names{"sub/b.txt", "a.txt"}));
}

TEST(FtpScan, StoredSettingsScanUsesPathFilterAndRecurse) {
  ListingFtp ftp;
  ftp.listings["sub"] = {folder("in"), file("b.txt"), file("c.txt")};
  ftp.listings["sub/in"] = {file("x.txt")};
  FtpScan scan(ftp);
  scan.path = "sub";
  scan.filter = [](FtpFileInfo info) { return info.name != "sub/c.txt"; };

  scan.scan();
  EXPECT_EQ(namesOf(scan.files()), (Names{"sub/b.txt"}));
  scan.recurse = true;
  scan.scan();
  EXPECT_EQ(namesOf(scan.files()), (Names{"sub/in/x.txt", "sub/b.txt"}));
}

TEST(FtpScan, KeepsEveryFieldOfTheRecord) {
  ListingFtp ftp;
  FtpFileInfo listed = file("a.txt", 1234, ticks::fromUnixSeconds(86400));
  ftp.listings["sub"] = {listed};
  FtpScan scan(ftp);
  scan.scan("sub", false);
  ASSERT_EQ(scan.files().size(), 1u);
  FtpFileInfo expected = listed;
  expected.name = "sub/a.txt";
  EXPECT_EQ(scan.files()[0], expected);
}

}  // namespace
}  // namespace kestrelkit::net::ftp
