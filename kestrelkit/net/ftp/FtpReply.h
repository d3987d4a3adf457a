#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrelkit::net::ftp {

/// One complete server reply: its code, its last line without the line end (what replies with
/// an argument, such as "227", are read from) and its whole text for messages.
struct FtpReply {
  /// The three-digit code; 0 when the line did not begin with one.
  int code = 0;
  std::string line;
  /// The code and the text of every line, joined by blanks: a multi-line refusal often gives
  /// its reason first and only a closing word last. The same as `line` for a one-line reply.
  std::string text;

  /// The first digit of the code as a character ('1' to '5'), or '\0' without a code.
  char kind() const { return code >= 100 && code <= 999 ? static_cast<char>('0' + code / 100) : '\0'; }
};

/// Splits the bytes of a control connection into replies (RFC 959: "xyz-" opens a multi-line
/// reply that the first line beginning "xyz " closes). Lines end at LF, a CR before it is
/// dropped. Memory stays bounded whatever the server sends: a line is kept up to
/// `kLongestLine` bytes (the rest of it is read and dropped), and so is the joined text of a
/// multi-line reply.
class ReplyParser {
 public:
  static constexpr std::size_t kLongestLine = 2048;

  /// Reads from `data` up to and including the line that completes a reply, or all of it.
  /// Returns the number of bytes used; the rest belongs to later replies.
  std::size_t feed(std::string_view data);
  /// True once a whole reply has been read; `take` then hands it over.
  bool complete() const { return complete_; }
  /// The completed reply; the parser starts on the next one.
  FtpReply take();

 private:
  void endLine();
  /// Adds the text of the line just read (without its code) to the joined text.
  void joinText();

  std::string line_;
  bool lineCut_ = false;
  std::string text_;   // the texts of a multi-line reply's lines so far
  int openCode_ = -1;  // code of a multi-line reply being read; -1 outside one
  bool complete_ = false;
  FtpReply reply_;
};

}  // namespace kestrelkit::net::ftp
