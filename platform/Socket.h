#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Deadline.h"
#include "platform/Outcome.h"

// Network sockets: every wait bounded by a deadline, IPv4 and IPv6.
namespace platform {

/// Makes a peer that closed its end show up as a write error rather than ending the process.
/// Leaves a disposition someone else chose alone; nothing to do where the system never ends a
/// process for it.
void ignoreBrokenPipe();

/// An IPv4 or IPv6 address and a port.
struct NetAddress {
  int family = 0;  ///< 4 or 6; 0 for no address
  std::array<unsigned char, 16> bytes{};  ///< most significant first; IPv4 uses the first 4
  std::uint16_t port = 0;

  bool valid() const { return family == 4 || family == 6; }
  /// Same family and same address bytes (ports are not compared). An IPv4-mapped IPv6 address
  /// (::ffff:a.b.c.d) equals the IPv4 address a.b.c.d.
  bool sameHost(const NetAddress& other) const;
  /// The address in its usual text form ("127.0.0.1", "::1"), without the port.
  std::string text() const;
  /// `text()`, with IPv6 in brackets, then ":" and the port: "127.0.0.1:21", "[::1]:21".
  std::string textWithPort() const;
};

/// Every address `host` (a name or a numeric IPv4 or IPv6 address) has for a TCP connection,
/// each with `port`, in the resolver's order. Empty, with the reason in `error` ("name not
/// resolved: ..."), when there is none. The wait is the system resolver's own, which its
/// configuration bounds.
std::vector<NetAddress> resolveHost(const std::string& host, std::uint16_t port,
                                    std::string& error);

/// One connected TCP socket, closed when the object goes. Move-only. Every call that may wait
/// takes a deadline and gives up when it passes (outcome `timedOut`).
class Socket {
 public:
  Socket() = default;
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool isOpen() const { return handle_ != kNoHandle; }

  /// Connects to `address`, closing any earlier connection first. `connectionLost` with the
  /// system's reason when the peer refuses or cannot be reached; `timedOut` ("connect timed
  /// out") when the deadline passes first.
  Outcome connect(const NetAddress& address, const Deadline& deadline);

  /// Waits for data and reads what is there, at most `capacity` bytes, into `buffer`: `done`
  /// with `got` > 0, or `done` with `got` == 0 once the peer has ended the stream in order.
  /// `connectionLost` on a reset or any other read error, `timedOut` when no byte came in time.
  Outcome readSome(char* buffer, std::size_t capacity, std::size_t& got,
                   const Deadline& deadline);

  /// Writes all of `data`, waiting while the peer cannot take more. `connectionLost` when the
  /// peer is gone (never a signal), `timedOut` when the deadline passes first.
  Outcome writeAll(const char* data, std::size_t length, const Deadline& deadline);

  /// The peer's and this end's address; invalid (family 0) when not connected.
  NetAddress peer() const;
  NetAddress local() const;

  /// Ends the sending direction (the peer reads the end of the stream); reading goes on.
  void shutdownSend();
  /// Closes the socket; nothing when closed.
  void close();
  /// Closes the socket with a reset, so that the peer's next read fails rather than ending in
  /// order: for test servers that play a broken peer.
  void abort();

  /// The system's handle (a file descriptor on POSIX, a SOCKET on Windows), for a TLS library
  /// that must be given it; the object keeps owning it.
  std::intptr_t native() const { return handle_; }

 private:
  friend class Listener;
  static constexpr std::intptr_t kNoHandle = -1;
  explicit Socket(std::intptr_t handle) : handle_(handle) {}

  std::intptr_t handle_ = kNoHandle;
};

/// A listening TCP socket, for data connections the server opens (active mode) and for test
/// servers. Closed when the object goes. Move-only.
class Listener {
 public:
  Listener() = default;
  ~Listener();
  Listener(Listener&& other) noexcept;
  Listener& operator=(Listener&& other) noexcept;
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  /// Listens on `local` (its family and address; port 0 lets the system pick one) with a
  /// backlog of `backlog`. `localFailure` with the system's reason when it cannot.
  Outcome open(const NetAddress& local, int backlog = 16);
  bool isOpen() const { return handle_ != Socket::kNoHandle; }
  /// The address listened on, with the port the system picked.
  NetAddress address() const;
  /// Waits for one connection: `done` with `connection` and its `peer`; `timedOut` when none
  /// came in time; `localFailure` when the listener fails or was closed.
  Outcome accept(Socket& connection, NetAddress& peer, const Deadline& deadline);
  void close();

 private:
  std::intptr_t handle_ = Socket::kNoHandle;
};

/// Makes the loopback address of `family` (4: 127.0.0.1, 6: ::1) with `port`.
NetAddress loopbackAddress(int family, std::uint16_t port = 0);

}  // namespace platform
