#pragma once

#include <cstddef>
#include <memory>

#include "platform/Deadline.h"
#include "platform/Outcome.h"
#include "platform/Socket.h"

namespace kestrelkit::net::ftp {

/// The bytes of one connection, control or data, whatever carries them: a plain socket, or a
/// secure layer over one. The protocol code reads and writes only through this.
class ByteStream {
 public:
  virtual ~ByteStream() = default;

  /// Waits for data and reads what is there: `done` with `got` > 0, or with `got` == 0 once the
  /// peer has ended the stream in order. Otherwise `connectionLost` or `timedOut`.
  virtual platform::Outcome readSome(char* buffer, std::size_t capacity, std::size_t& got,
                                     const platform::Deadline& deadline) = 0;
  /// Writes all of `data`, or fails with `connectionLost` or `timedOut`.
  virtual platform::Outcome writeAll(const char* data, std::size_t length,
                                     const platform::Deadline& deadline) = 0;
  /// Ends the stream in order, as far as the peer should know (the sending direction).
  virtual void finish(const platform::Deadline& deadline) = 0;
  /// The connection underneath.
  virtual platform::Socket& socket() = 0;
};

/// A stream straight on a socket.
class SocketStream final : public ByteStream {
 public:
  explicit SocketStream(platform::Socket socket) : socket_(std::move(socket)) {}

  platform::Outcome readSome(char* buffer, std::size_t capacity, std::size_t& got,
                             const platform::Deadline& deadline) override {
    return socket_.readSome(buffer, capacity, got, deadline);
  }
  platform::Outcome writeAll(const char* data, std::size_t length,
                             const platform::Deadline& deadline) override {
    return socket_.writeAll(data, length, deadline);
  }
  void finish(const platform::Deadline&) override { socket_.shutdownSend(); }
  platform::Socket& socket() override { return socket_; }

 private:
  platform::Socket socket_;
};

}  // namespace kestrelkit::net::ftp
