#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpScan.h"
#include "tests/kestrelkit/net/ftp/FtpScanListings.h"
#include "tests/support/PyFtpServer.h"
#include "tests/support/TempDir.h"

namespace kestrelkit::net::ftp {
namespace {

using Names = std::vector<std::string>;

template <typename Records>
std::vector<std::string> sortedNames(const Records& records) {
  std::vector<std::string> names = scantest::namesOf(records);
  std::sort(names.begin(), names.end());
  return names;
}

// The scan over a real connection and a real server's listings.
TEST(FtpScanServer, WalksARealTree) {
  testing_support::TempDir root;
  testing_support::writeFile(root.file("a.txt"), "12345");
  testing_support::writeFile(root.file("sub/b.TXT"), "1");
  testing_support::writeFile(root.file("sub/deeper/c.log"), "");
  testing_support::writeFile(root.file("with space/d.txt"), "1234567");
  std::filesystem::create_symlink(root.file("sub"), root.file("link"));
  testing_support::PyFtpServer server(root.path());

  FtpLib ftp;
  ASSERT_TRUE(ftp.connect("127.0.0.1", server.port()));
  ASSERT_TRUE(ftp.login("user", "secret"));
  FtpScan scan(ftp);
  scan.scan("", true);
  EXPECT_EQ(sortedNames(scan.files()),
            (Names{"a.txt", "sub/b.TXT", "sub/deeper/c.log", "with space/d.txt"}));
  EXPECT_EQ(sortedNames(scan.folders()), (Names{"sub", "sub/deeper", "with space"}));
  EXPECT_TRUE(scan.errors().empty());
  for (const FtpFileInfo& file : scan.files()) {
    if (file.name == "a.txt") {
      EXPECT_EQ(file.size, 5u);
    }
  }

  scan.includes = {"*.txt"};
  scan.minSize = 2;
  scan.scan("", true);
  EXPECT_EQ(sortedNames(scan.files()), (Names{"a.txt", "with space/d.txt"}));

  scan.includes.clear();
  scan.minSize = kUnknownSize;
  scan.scan("sub", false);
  EXPECT_EQ(sortedNames(scan.files()), (Names{"sub/b.TXT"}));
  EXPECT_EQ(sortedNames(scan.folders()), (Names{"sub/deeper"}));
}

}  // namespace
}  // namespace kestrelkit::net::ftp
