#pragma once

#include <chrono>
#include <memory>

#include "kestrelkit/net/ftp/ByteStream.h"

namespace kestrelkit::net::ftp {

/// The data connection of one transfer, made by connecting to the server (passive mode) or by
/// taking the server's connection (active mode). Every wait is bounded: a read or write by
/// `timeout` for each stretch in which no byte moves (zero or less: no limit).
class DataConnection {
 public:
  /// Connects to `server` (the control connection's peer with the port the server named).
  platform::Outcome connect(const platform::NetAddress& server);
  /// Listens on `local` (the control connection's own address) with a port the system picks.
  platform::Outcome listen(const platform::NetAddress& local);
  /// The address being listened on, for PORT or EPRT.
  platform::NetAddress listenAddress() const { return listener_.address(); }
  /// Waits until `deadline` for the server's connection, taking only one from `server`'s
  /// address: a connection from anywhere else is closed and the wait goes on.
  platform::Outcome accept(const platform::NetAddress& server, const platform::Deadline& deadline);

  bool isOpen() const { return stream_ != nullptr; }
  /// Reads what arrives: `got` == 0 at the end of the data. `timedOut` ("no data for 60 s").
  platform::Outcome readSome(char* buffer, std::size_t capacity, std::size_t& got);
  platform::Outcome writeAll(const char* data, std::size_t length);
  /// Ends the data in order (what a server waits for after a file sent to it), then closes.
  void finish();
  void close();

  /// The stream under the transfer, which a secure layer may replace.
  std::unique_ptr<ByteStream>& stream() { return stream_; }

  std::chrono::milliseconds timeout{60000};
  /// When every wait ends at the latest, whatever is left of `timeout`: the job's own end.
  platform::Deadline stopAt = platform::Deadline::never();

 private:
  platform::Deadline waitLimit() const { return platform::Deadline::within(timeout, stopAt); }
  /// `outcome` with its reason for a message.
  platform::Outcome described(platform::Outcome outcome) const;

  platform::Listener listener_;
  std::unique_ptr<ByteStream> stream_;
};

}  // namespace kestrelkit::net::ftp
