// libFuzzer target: any bytes as a control connection's replies. The reader must stay within
// its bounds, and cutting the same bytes into other pieces must give the same replies.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "kestrelkit/net/ftp/FtpReply.h"

namespace {

using kestrelkit::net::ftp::FtpReply;
using kestrelkit::net::ftp::ReplyParser;

std::vector<FtpReply> readAll(std::string_view data, std::size_t piece) {
  ReplyParser parser;
  std::vector<FtpReply> replies;
  while (!data.empty()) {
    const std::string_view chunk = data.substr(0, piece);
    const std::size_t used = parser.feed(chunk);
    if (used > chunk.size()) std::abort();
    if (parser.complete()) {
      FtpReply reply = parser.take();
      if (reply.line.size() > ReplyParser::kLongestLine || reply.code < 0 || reply.code > 999) {
        std::abort();
      }
      replies.push_back(std::move(reply));
    } else if (used != chunk.size()) {
      std::abort();  // bytes left over without a reply to show for them
    }
    data.remove_prefix(used);
  }
  return replies;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + bytes[0] % 7;
  const std::string_view data(reinterpret_cast<const char*>(bytes) + 1, size - 1);
  const std::vector<FtpReply> whole = readAll(data, data.size() + 1);
  const std::vector<FtpReply> pieces = readAll(data, piece);
  if (whole.size() != pieces.size()) std::abort();
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (whole[i].code != pieces[i].code || whole[i].line != pieces[i].line) std::abort();
  }
  return 0;
}
