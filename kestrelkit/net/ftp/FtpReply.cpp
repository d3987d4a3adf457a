#include "kestrelkit/net/ftp/FtpReply.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kestrelkit::net::ftp {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

/// The code that `line` begins with, or -1.
int leadingCode(const std::string& line) {
  if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2])) return -1;
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

std::size_t ReplyParser::feed(std::string_view data) {
  std::size_t used = 0;
  while (used < data.size() && !complete_) {
    const char* start = data.data() + used;
    const std::size_t left = data.size() - used;
    const char* newline = static_cast<const char*>(std::memchr(start, '\n', left));
    const std::size_t piece = newline != nullptr ? static_cast<std::size_t>(newline - start) : left;
    const std::size_t room = kLongestLine - line_.size();
    line_.append(start, piece < room ? piece : room);
    if (piece > room) lineCut_ = true;
    used += piece;
    if (newline == nullptr) break;
    ++used;
    endLine();
  }
  return used;
}

void ReplyParser::endLine() {
  // A CR that was cut off with the rest of an overlong line is gone already.
  if (!lineCut_ && !line_.empty() && line_.back() == '\r') line_.pop_back();
  const int code = leadingCode(line_);
  const char after = line_.size() > 3 ? line_[3] : ' ';
  if (openCode_ >= 0) {
    joinText();
    // Inside a multi-line reply only "xyz " (or "xyz" alone) with the opening code ends it.
    if (code == openCode_ && after == ' ') {
      std::string text = line_.substr(0, 3) + " " + text_;
      if (text_.empty()) text = line_;
      reply_ = {code, std::move(line_), std::move(text)};
      complete_ = true;
      openCode_ = -1;
      text_.clear();
    }
  } else if (code >= 0 && after == '-') {
    openCode_ = code;
    joinText();
  } else if (!line_.empty()) {
    // A line without a code is a reply of its own, which no expectation accepts.
    reply_ = {code < 0 ? 0 : code, line_, line_};
    complete_ = true;
  }
  line_.clear();
  lineCut_ = false;
}

void ReplyParser::joinText() {
  std::string_view text(line_);
  // "xyz-" and "xyz " lead in a line of a multi-line reply; other lines are text as they stand.
  if (leadingCode(line_) >= 0 && (text.size() == 3 || text[3] == '-' || text[3] == ' ')) {
    text.remove_prefix(std::min<std::size_t>(text.size(), 4));
  }
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  // Bounded like a line: the code and its blank in front, then as much text as fits.
  constexpr std::size_t kRoom = kLongestLine - 4;
  if (text.empty() || text_.size() + 1 >= kRoom) return;
  if (!text_.empty()) text_ += ' ';
  text_.append(text.substr(0, kRoom - text_.size()));
}

FtpReply ReplyParser::take() {
  complete_ = false;
  return std::exchange(reply_, FtpReply{});
}

}  // namespace kestrelkit::net::ftp
