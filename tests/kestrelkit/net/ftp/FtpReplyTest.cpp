#include "kestrelkit/net/ftp/FtpReply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpDataAddress.h"

namespace {

using kestrelkit::net::ftp::extendedPassivePort;
using kestrelkit::net::ftp::extendedPortArgument;
using kestrelkit::net::ftp::FtpReply;
using kestrelkit::net::ftp::passivePort;
using kestrelkit::net::ftp::portArgument;
using kestrelkit::net::ftp::ReplyParser;

// Every reply in `wire`, fed `piece` bytes at a time, as "code|line".
std::vector<std::string> repliesOf(const std::string& wire, std::size_t piece) {
  ReplyParser parser;
  std::vector<std::string> out;
  std::string_view rest(wire);
  while (!rest.empty()) {
    const std::string_view chunk = rest.substr(0, piece);
    rest.remove_prefix(parser.feed(chunk));
    if (parser.complete()) {
      const FtpReply reply = parser.take();
      out.push_back(std::to_string(reply.code) + "|" + reply.line);
      if (reply.text != reply.line) out.back() += "|" + reply.text;
    }
  }
  return out;
}

TEST(FtpReply, RepliesAreCutWhereverTheBytesEnd) {
  struct Case {
    std::string wire;
    std::vector<std::string> replies;
  };
  const std::string longText(5000, 'x');
  const Case cases[] = {
      {"220 ready\r\n", {"220|220 ready"}},
      {"220 a\n331 b\r\n", {"220|220 a", "331|331 b"}},
      // Multi-line: only "xyz " with the same code ends it; the last line is kept, and the
      // text of every line is joined for messages.
      {"214-Help\r\n214-more\r\n 214 indented\r\n200 other\r\n214 End\r\n",
       {"214|214 End|214 Help more 214 indented other End"}},
      {"530-Login incorrect: account locked.\r\n530 End.\r\n",
       {"530|530 End.|530 Login incorrect: account locked. End."}},
      {"230-\r\n230\r\n", {"230|230"}},
      // A line without a code is a reply no expectation accepts; empty lines are skipped.
      {"\r\nhello\r\n", {"0|hello"}},
      // An overlong line is kept up to the bound, its line end still found.
      {"550 " + longText + "\r\n200 ok\r\n",
       {"550|550 " + longText.substr(0, ReplyParser::kLongestLine - 4), "200|200 ok"}},
      {"550-" + longText + "\r\n550-" + longText + "\r\n550 x\r\n",
       {"550|550 x|550 " + longText.substr(0, ReplyParser::kLongestLine - 4)}},
      {"220 no line end yet", {}},
  };
  for (const Case& c : cases) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, c.wire.size()}) {
      SCOPED_TRACE(c.wire.substr(0, 40) + " in pieces of " + std::to_string(piece));
      EXPECT_EQ(repliesOf(c.wire, piece), c.replies);
    }
  }
}

TEST(FtpDataAddress, PassiveRepliesGiveOnlyAValidPort) {
  struct Case {
    const char* reply;
    int port;  // 0: refused
  };
  const Case cases[] = {
      {"227 Entering Passive Mode (127,0,0,1,4,1).", 1025},
      {"227 Entering Passive Mode 10,1,2,3,200,10", 51210},
      {"227 =300,0,0,1,4,1 then (9,9,9,9,0,80)", 80},  // the first well-formed six win
      {"227 Entering Passive Mode (127,0,0,1,300,1).", 0},
      {"227 Entering Passive Mode (1,2,3).", 0},
      {"227 (127,0,0,1,0,0)", 0},
      {"227 (1,2,3,4,5,6,7)", 1286},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(passivePort(c.reply).value_or(0), c.port);
  }
  const Case extended[] = {
      {"229 Entering Extended Passive Mode (|||6446|)", 6446},
      {"229 ok (!!!21!)", 21},
      {"229 (|||65536|)", 0},
      {"229 (|||0|)", 0},
      {"229 (||6446|)", 0},
      {"229 (|1|6446|)", 0},
      {"229 (|||6446|", 0},
  };
  for (const Case& c : extended) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(extendedPassivePort(c.reply).value_or(0), c.port);
  }
}

TEST(FtpDataAddress, PortArguments) {
  EXPECT_EQ(portArgument(platform::loopbackAddress(4, 1025)), "127,0,0,1,4,1");
  EXPECT_EQ(extendedPortArgument(platform::loopbackAddress(4, 1025)), "|1|127.0.0.1|1025|");
  EXPECT_EQ(extendedPortArgument(platform::loopbackAddress(6, 6446)), "|2|::1|6446|");
}

}  // namespace
