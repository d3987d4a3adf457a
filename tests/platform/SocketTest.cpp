#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::Deadline;
using platform::Listener;
using platform::NetAddress;
using platform::OutcomeKind;
using platform::Socket;
using Clock = std::chrono::steady_clock;

// The limit for waits that should end at once; a test that reaches it has failed.
constexpr auto kAtOnce = 10s;

// A connection over the loopback of the test's family (4 or 6), both ends open.
class LoopbackPair : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    auto opened = listener_.open(platform::loopbackAddress(GetParam()));
    if (!opened.ok() && GetParam() == 6) GTEST_SKIP() << "no IPv6 loopback: " << opened.reason;
    ASSERT_TRUE(opened.ok()) << opened.reason;
    auto connected = client_.connect(listener_.address(), Deadline::after(kAtOnce));
    ASSERT_TRUE(connected.ok()) << connected.reason;
    auto accepted = listener_.accept(server_, clientSeen_, Deadline::after(kAtOnce));
    ASSERT_TRUE(accepted.ok()) << accepted.reason;
  }

  std::string readAll(Socket& socket) {
    std::string text;
    char buffer[256];
    std::size_t got = 0;
    while (socket.readSome(buffer, sizeof buffer, got, Deadline::after(kAtOnce)).ok() && got > 0) {
      text.append(buffer, got);
    }
    return text;
  }

  Listener listener_;
  Socket client_;
  Socket server_;
  NetAddress clientSeen_;
};

INSTANTIATE_TEST_SUITE_P(Families, LoopbackPair, ::testing::Values(4, 6));

TEST_P(LoopbackPair, BothEndsKnowEachOtherAndDataArrivesUntilAnOrderlyEnd) {
  const std::string loopback = GetParam() == 6 ? "::1" : "127.0.0.1";
  EXPECT_EQ(clientSeen_.text(), loopback);
  EXPECT_EQ(server_.peer().text(), loopback);
  EXPECT_EQ(clientSeen_.port, client_.local().port);
  EXPECT_EQ(client_.peer().port, listener_.address().port);

  ASSERT_TRUE(client_.writeAll("hello", 5, Deadline::after(kAtOnce)).ok());
  client_.shutdownSend();
  EXPECT_EQ(readAll(server_), "hello");
  // The end of the stream stays the end: a second read again gives 0 bytes, done.
  char byte;
  std::size_t got = 1;
  EXPECT_TRUE(server_.readSome(&byte, 1, got, Deadline::after(kAtOnce)).ok());
  EXPECT_EQ(got, 0u);
  // Reading goes on after shutdownSend.
  ASSERT_TRUE(server_.writeAll("back", 4, Deadline::after(kAtOnce)).ok());
  server_.close();
  EXPECT_EQ(readAll(client_), "back");
}

TEST_P(LoopbackPair, AResetFailsReadsAndWritesWithoutASignal) {
  server_.abort();
  EXPECT_FALSE(server_.isOpen());
  char buffer[16];
  std::size_t got = 0;
  auto read = client_.readSome(buffer, sizeof buffer, got, Deadline::after(kAtOnce));
  EXPECT_EQ(read.kind, OutcomeKind::connectionLost);
  EXPECT_FALSE(read.reason.empty());
  auto write = client_.writeAll("x", 1, Deadline::after(kAtOnce));
  EXPECT_EQ(write.kind, OutcomeKind::connectionLost);
}

TEST_P(LoopbackPair, ASilentPeerTimesOutTheReadOnTime) {
  char buffer[16];
  std::size_t got = 0;
  const auto start = Clock::now();
  auto read = client_.readSome(buffer, sizeof buffer, got, Deadline::after(200ms));
  const auto took = Clock::now() - start;
  EXPECT_EQ(read.kind, OutcomeKind::timedOut);
  EXPECT_EQ(read.reason, "no data");
  EXPECT_GE(took, 190ms);
  EXPECT_LT(took, 5s);
}

TEST_P(LoopbackPair, APeerThatReadsNothingTimesOutTheWrite) {
  const std::string block(1 << 20, 'x');
  platform::Outcome write;
  // The system's buffers take a few megabytes; the cap keeps a broken limit from running on.
  for (int blocks = 0; blocks < 512 && write.ok(); ++blocks) {
    write = client_.writeAll(block.data(), block.size(), Deadline::after(300ms));
  }
  EXPECT_EQ(write.kind, OutcomeKind::timedOut);
  EXPECT_EQ(write.reason, "send timed out");
}

TEST(Socket, ConnectingToAClosedPortIsRefused) {
  Listener listener;
  ASSERT_TRUE(listener.open(platform::loopbackAddress(4)).ok());
  const NetAddress closed = listener.address();
  listener.close();
  Socket socket;
  auto connected = socket.connect(closed, Deadline::after(kAtOnce));
  EXPECT_EQ(connected.kind, OutcomeKind::connectionLost);
  EXPECT_FALSE(connected.reason.empty());
  EXPECT_FALSE(socket.isOpen());
  EXPECT_FALSE(socket.peer().valid());
}

TEST(Socket, AcceptWithoutAClientTimesOutOnTime) {
  Listener listener;
  ASSERT_TRUE(listener.open(platform::loopbackAddress(4)).ok());
  Socket connection;
  NetAddress peer;
  const auto start = Clock::now();
  EXPECT_EQ(listener.accept(connection, peer, Deadline::after(200ms)).kind, OutcomeKind::timedOut);
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_FALSE(connection.isOpen());
  listener.close();
  EXPECT_EQ(listener.accept(connection, peer, Deadline::after(200ms)).kind,
            OutcomeKind::localFailure);
}

TEST(Socket, ResolvesNamesAndNumericAddressesAndReportsUnknownNames) {
  struct Case {
    const char* host;
    const char* first;  // the first address's text; "" for any, nullptr for none
  };
  const Case cases[] = {
      {"localhost", ""},
      {"127.0.0.1", "127.0.0.1"},
      {"::1", "::1"},
      {"bad..name.invalid", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    std::string error = "stale";
    const auto found = platform::resolveHost(c.host, 2121, error);
    if (c.first == nullptr) {
      EXPECT_TRUE(found.empty());
      EXPECT_EQ(error.rfind("name not resolved: ", 0), 0u) << error;
      EXPECT_GT(error.size(), std::string("name not resolved: ").size());
      continue;
    }
    ASSERT_FALSE(found.empty()) << error;
    if (*c.first) {
      EXPECT_EQ(found.front().text(), c.first);
    }
    for (const auto& address : found) EXPECT_EQ(address.port, 2121);
  }
}

TEST(NetAddress, SameHostSeesThroughIPv4MappedAddressesAndIgnoresPorts) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"::ffff:127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "::ffff:127.0.0.1", true},
      {"127.0.0.1", "127.0.0.2", false},
      {"::1", "127.0.0.1", false},
      {"::1", "::1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    std::string error;
    const auto a = platform::resolveHost(c.a, 21, error);
    const auto b = platform::resolveHost(c.b, 990, error);
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(a[0].sameHost(b[0]), c.same);
  }
  EXPECT_FALSE(NetAddress{}.sameHost(NetAddress{}));
}

TEST(NetAddress, TextWithPortBracketsIPv6) {
  EXPECT_EQ(platform::loopbackAddress(4, 21).textWithPort(), "127.0.0.1:21");
  EXPECT_EQ(platform::loopbackAddress(6, 21).textWithPort(), "[::1]:21");
  EXPECT_EQ(NetAddress{}.text(), "");
}

}  // namespace
