// The checked access to ftplib's private connection record, on records built by hand with the
// layout ftplib 4.0 has on 64-bit Linux (its FtpLastResponse reads `dir` at 0x28 and returns the
// record plus 0x80; FtpConnect allocates 0x480 bytes).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "kestrelkit/net/ftp/FtpLibNetBuf.h"

namespace kestrelkit::net::ftp::detail {
namespace {

constexpr std::size_t kRecordSize = 0x480;
constexpr std::size_t kHandleAt = 16, kCavailAt = 20, kBufAt = 32, kDirAt = 0x28, kDataAt = 56;
constexpr std::size_t kResponseAt = 0x80;

template <typename T>
void put(char* record, std::size_t offset, T value) {
  std::memcpy(record + offset, &value, sizeof value);
}

class FakeRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    if (sizeof(void*) != 8) GTEST_SKIP() << "layout known for 64-bit builds only";
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    put(record.get(), kHandleAt, sockets[0]);
    put(record.get(), kBufAt, buffer.get());
  }
  void TearDown() override {
    ::close(sockets[0]);
    ::close(sockets[1]);
  }
  NetBuf* handle() { return reinterpret_cast<NetBuf*>(record.get()); }
  std::string response() const { return record.get() + kResponseAt; }
  void serverSays(const std::string& text) {
    ASSERT_EQ(::write(sockets[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  std::string serverHeard() {
    char text[2048];
    ssize_t got = ::read(sockets[1], text, sizeof text);
    return got > 0 ? std::string(text, got) : std::string();
  }

  // Exactly the record's size, so that any write past its reply buffer is caught by ASan.
  std::unique_ptr<char[]> record = std::make_unique<char[]>(kRecordSize);
  std::unique_ptr<char[]> buffer = std::make_unique<char[]>(8192);
  int sockets[2] = {-1, -1};
};

TEST_F(FakeRecord, ExchangesACommandThroughTheLibrarysBuffers) {
  ControlChannel channel(handle());
  ASSERT_TRUE(channel.valid()) << channel.failure();
  serverSays("200 OK\r\n211 next reply\r\n");
  EXPECT_TRUE(channel.exchange("NOOP", '2'));
  EXPECT_EQ(serverHeard(), "NOOP\r\n");
  EXPECT_EQ(response(), "200 OK\n");
  // The second reply stays in the library's buffer for its own reader, and for ours.
  int available = 0;
  std::memcpy(&available, record.get() + kCavailAt, sizeof available);
  EXPECT_EQ(available, 16);
  ControlChannel again(handle());
  ASSERT_TRUE(again.valid()) << again.failure();
  EXPECT_FALSE(again.exchange("STAT", '3'));
  EXPECT_EQ(response(), "211 next reply\n");
}

TEST_F(FakeRecord, LongRepliesStayInsideTheReplyBuffer) {
  ControlChannel channel(handle());
  ASSERT_TRUE(channel.valid());
  // A multi-line reply whose lines are 1,023 and 1,024 bytes with their line end, then the end.
  serverSays("200-" + std::string(1018, 'a') + "\n" + "200-" + std::string(1019, 'b') + "\n" +
             "200 " + std::string(3000, 'c') + "\r\n");
  EXPECT_TRUE(channel.exchange("HELP", '2'));
  // The last line arrives in pieces of at most 1,023 bytes; the reply is its first piece.
  EXPECT_EQ(response(), "200 " + std::string(1019, 'c'));
}

TEST_F(FakeRecord, ConnectionClosedBeforeTheReplyKeepsThePreviousOne) {
  std::strcpy(record.get() + kResponseAt, "220 earlier\n");
  ControlChannel channel(handle());
  ASSERT_TRUE(channel.valid());
  ::shutdown(sockets[1], SHUT_WR);
  EXPECT_FALSE(channel.exchange("NOOP", '2'));
  EXPECT_EQ(response(), "220 earlier\n");
}

TEST_F(FakeRecord, RefusesRecordsThatDoNotCheckOut) {
  struct Case {
    const char* what;
    void (*spoil)(char* record, int notSocket);
  };
  const Case cases[] = {
      {"not a control record", [](char* r, int) { put(r, kDirAt, 1); }},
      {"data connection open", [](char* r, int) { put(r, kDataAt, static_cast<void*>(r)); }},
      {"no read buffer", [](char* r, int) { put(r, kBufAt, static_cast<char*>(nullptr)); }},
      {"buffer counts disagree", [](char* r, int) { put(r, kCavailAt, 5); }},
      {"not a socket", [](char* r, int fd) { put(r, kHandleAt, fd); }},
  };
  const int devNull = ::open("/dev/null", O_RDONLY);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto spoilt = std::make_unique<char[]>(kRecordSize);
    std::memcpy(spoilt.get(), record.get(), kRecordSize);
    c.spoil(spoilt.get(), devNull);
    ControlChannel channel(reinterpret_cast<NetBuf*>(spoilt.get()));
    EXPECT_FALSE(channel.valid());
    EXPECT_FALSE(channel.failure().empty());
    EXPECT_FALSE(channel.exchange("NOOP", '2'));
  }
  ::close(devNull);
  EXPECT_FALSE(ControlChannel(nullptr).valid());
  EXPECT_EQ(controlReadBuffer(nullptr), nullptr);
  EXPECT_EQ(controlReadBuffer(handle()), buffer.get());
}

}  // namespace
}  // namespace kestrelkit::net::ftp::detail
