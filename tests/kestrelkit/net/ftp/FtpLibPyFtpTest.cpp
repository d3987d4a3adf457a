// FtpLib against a real server (pyftpdlib on 127.0.0.1), in passive and active mode.
#include <gtest/gtest.h>

#include <algorithm>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "tests/support/PyFtpServer.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/TempDir.h"

namespace kestrelkit::net::ftp {
namespace {

using testing_support::PyFtpServer;
using testing_support::randomBytes;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

const FtpFileInfo* find(const std::vector<FtpFileInfo>& records, const std::string& name) {
  auto found = std::find_if(records.begin(), records.end(),
                            [&](const FtpFileInfo& info) { return info.name == name; });
  return found == records.end() ? nullptr : &*found;
}

class FtpLibPyFtpTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    writeFile(root.file("hello.txt"), "hello\n");
    writeFile(root.file("data.bin"), binary);
    writeFile(root.file("sub folder/inner.txt"), "inner");
    writeFile(root.file("sub folder/deeper/x"), "");
    server = std::make_unique<PyFtpServer>(root.path());
    ASSERT_TRUE(connection.connect("127.0.0.1", server->port()));
    if (GetParam()) {
      connection.setPassiveMode();
    } else {
      connection.setActiveMode();
    }
    ASSERT_TRUE(connection.login("user", "secret"));
  }

  TempDir root;
  TempDir local;
  const std::string binary = randomBytes(300000) + "\r\n\n\r";
  std::unique_ptr<PyFtpServer> server;
  FtpLib connection;
};

TEST_P(FtpLibPyFtpTest, LogsInAndLearnsTheSystem) {
  EXPECT_EQ(connection.systemType(), "UNIX");
  // pyftpdlib takes only MLST options.
  EXPECT_FALSE(connection.utf8On());
  EXPECT_EQ(connection.lastResponse().substr(0, 4), "501 ");
  EXPECT_EQ(connection.pwd(), "/");
  EXPECT_FALSE(connection.login("user", "wrong"));
}

TEST_P(FtpLibPyFtpTest, ListsFoldersAsRecords) {
  std::vector<FtpFileInfo> records;
  ASSERT_TRUE(connection.list("", records));
  ASSERT_EQ(records.size(), 3u);
  const FtpFileInfo* hello = find(records, "hello.txt");
  ASSERT_NE(hello, nullptr);
  EXPECT_EQ(hello->type, FtpFileType::file);
  EXPECT_EQ(hello->size, 6u);
  EXPECT_NE(hello->modifyTime, ticks::kUnknownTime);
  const FtpFileInfo* data = find(records, "data.bin");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->size, binary.size());
  const FtpFileInfo* folder = find(records, "sub folder");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->type, FtpFileType::folder);

  ASSERT_TRUE(connection.list("sub folder", records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(find(records, "inner.txt"), nullptr);
  EXPECT_NE(find(records, "deeper"), nullptr);

  ASSERT_TRUE(connection.chdir("sub folder"));
  ASSERT_TRUE(connection.list("", records));
  EXPECT_EQ(records.size(), 2u);
  EXPECT_FALSE(connection.list("no such folder", records));
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(connection.lastResponse().substr(0, 4), "550 ");
}

TEST_P(FtpLibPyFtpTest, RetrievesFilesByteForByte) {
  ASSERT_TRUE(connection.get(local.file("data.bin"), "data.bin", 'I'));
  EXPECT_EQ(readFile(local.file("data.bin")), binary);
  ASSERT_TRUE(connection.get(local.file("inner.txt"), "sub folder/inner.txt", 'I'));
  EXPECT_EQ(readFile(local.file("inner.txt")), "inner");
  ASSERT_TRUE(connection.get(local.file("empty"), "sub folder/deeper/x", 'I'));
  EXPECT_EQ(readFile(local.file("empty")), "");
  EXPECT_FALSE(connection.get(local.file("missing"), "missing.bin", 'I'));
  EXPECT_EQ(connection.lastResponse().substr(0, 4), "550 ");
  std::string date;
  EXPECT_TRUE(connection.remoteModDate("hello.txt", date));
  EXPECT_EQ(date.size(), 14u);
  std::int32_t size = 0;
  EXPECT_TRUE(connection.remoteSize("data.bin", size, 'I'));
  EXPECT_EQ(static_cast<std::size_t>(size), binary.size());
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpLibPyFtpTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& mode) {
                           return mode.param ? "Passive" : "Active";
                         });

}  // namespace
}  // namespace kestrelkit::net::ftp
