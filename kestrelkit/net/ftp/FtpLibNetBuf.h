#pragma once

#include <cstddef>
#include <string>

struct NetBuf;

// Access to the parts of ftplib's private connection record that its public interface does not
// reach: the control socket and its read buffer (for sending a command of our own on the same
// connection, as the library's internal command sender does) and a data connection's socket.
//
// ftplib 4.0 keeps these in `struct NetBuf`, whose layout is mirrored in FtpLibNetBuf.cpp. The
// mirror is never trusted blindly: every use first checks, against the running library, that
// the record looks exactly as the mirror says (see ControlChannel::verify), and refuses otherwise.
namespace kestrelkit::net::ftp::detail {

/// ftplib's reply buffer size (RESPONSE_BUFSIZ).
inline constexpr std::size_t kResponseSize = 1024;

/// A verified view of a control connection.
class ControlChannel {
 public:
  /// Checks `handle`; `valid` tells whether it passed and `failure` why not.
  explicit ControlChannel(NetBuf* handle);

  bool valid() const { return failure_.empty(); }
  const std::string& failure() const { return failure_; }

  /// Sends `command` and CR LF, then reads the reply exactly as ftplib's own reply reader does (a
  /// multi-line reply to its last line, through the library's read buffer, CR LF reduced to LF)
  /// into the library's reply buffer, so FtpLastResponse returns it. True when the reply's first
  /// byte is `expected`. Only on a valid channel.
  bool exchange(const std::string& command, char expected);
  /// Writes `lines` as they are (each already ending in CR LF), for commands sent together.
  bool send(const std::string& lines);
  /// Reads one reply as `exchange` does; true when its first byte is `expected`.
  bool readReply(char expected);
  /// True when the connection opens data connections in passive mode (ftplib's PASV).
  bool passive() const;

 private:
  bool readLine();
  bool fill();

  NetBuf* handle_;
  std::string failure_;
  int socket_ = -1;
  char* buffer_ = nullptr;
  char* response_ = nullptr;
  bool endOfStream_ = false;
};

/// The read buffer of a control connection whose record checks out, else null. FtpClose on a
/// control connection frees the record but not this buffer, so the caller frees it afterwards.
char* controlReadBuffer(NetBuf* control);

/// Puts `text` into the reply buffer FtpLastResponse reads, when the library hands one out.
void noteLocalFailure(NetBuf* handle, const std::string& text);

/// The socket of a data connection that FtpAccess just opened on `control` for reading in
/// transfer mode `mode` ('A' text, 'I' binary), after checking the record; -1 (with the reason in
/// `failure`) when it does not check out.
int verifiedDataSocket(NetBuf* data, NetBuf* control, char mode, std::string& failure);

}  // namespace kestrelkit::net::ftp::detail
