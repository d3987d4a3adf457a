#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "kestrelkit/net/ftp/ByteStream.h"
#include "kestrelkit/net/ftp/FtpReply.h"

namespace kestrelkit::net::ftp {

/// The control connection of an FTP session: command lines out, replies in, every wait bounded
/// by `timeout` (zero or less: no limit). A failure to send, a lost connection or a reply that
/// does not come in time closes the connection, since it is out of step with the server from
/// then on.
class ControlConnection {
 public:
  /// Makes a new connection's stream secure before anything is read from it.
  using Securer =
      std::function<platform::Outcome(std::unique_ptr<ByteStream>&, const platform::Deadline&)>;

  /// Connects to the first address of `host` that takes the connection, each tried within the
  /// time limit, passes the stream through `secure` when given (TLS from the first byte), and
  /// reads the greeting (a "120" first is waited through, all within one time limit). `done`
  /// only for a 2xx greeting; a refusing greeting is `refused` with its code, and the
  /// connection is closed. Resolving the name is bounded by the time limit too.
  platform::Outcome open(const std::string& host, std::uint16_t port,
                         const Securer& secure = nullptr);
  bool isOpen() const { return stream_ != nullptr; }
  void close();

  /// Sends `line` and CR LF.
  platform::Outcome send(const std::string& line);
  /// Reads the next reply into `reply`; `lastResponse` then holds its text. `done` whatever the
  /// code: the caller judges it. A "421" (the server is closing) closes the connection too.
  platform::Outcome readReply(FtpReply& reply);
  platform::Outcome readReply(FtpReply& reply, const platform::Deadline& deadline);
  /// `send`, then `readReply`.
  platform::Outcome command(const std::string& line, FtpReply& reply);
  /// Sends `line` ahead of need: its reply is taken later by `takeAhead`, or read and dropped
  /// before the next command goes out, so replies never get out of step.
  platform::Outcome sendAhead(const std::string& line);
  /// True while a command sent ahead is not yet answered.
  bool hasAhead() const { return hasAhead_; }
  /// Reads the reply to the command sent ahead.
  platform::Outcome takeAhead(FtpReply& reply);
  /// True when bytes from the server wait, read but not yet taken as a reply.
  bool hasUnreadInput() const { return begin_ < end_; }

  /// The peer's and this end's address of the open connection.
  platform::NetAddress peer() const;
  platform::NetAddress local() const;

  /// The stream under the protocol, which a secure layer may replace.
  std::unique_ptr<ByteStream>& stream() { return stream_; }

  std::chrono::milliseconds timeout{60000};
  /// When every wait ends at the latest, whatever is left of `timeout`: the job's own end.
  platform::Deadline stopAt = platform::Deadline::never();
  /// The last reply line with a line feed, or the text of a local failure: what
  /// `FtpLib::lastResponse` gives.
  std::string lastResponse;

 private:
  platform::Outcome failed(platform::Outcome outcome);
  platform::Outcome greet();
  /// The limit of one wait: `timeout` from now, or `stopAt` when that comes first.
  platform::Deadline waitLimit() const { return platform::Deadline::within(timeout, stopAt); }
  /// A wait that ran out: `what`, or "deadline reached" when `stopAt` ended it.
  platform::Outcome timedOut(std::string what) const;

  std::unique_ptr<ByteStream> stream_;
  bool hasAhead_ = false;
  ReplyParser parser_;
  std::array<char, 4096> buffer_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace kestrelkit::net::ftp
