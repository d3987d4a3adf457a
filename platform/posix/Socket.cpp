#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/Files.h"

namespace platform {
namespace {

int systemFamily(int family) { return family == 6 ? AF_INET6 : AF_INET; }

socklen_t toSystem(const NetAddress& address, sockaddr_storage& out) {
  out = {};
  if (address.family == 6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(address.port);
    std::memcpy(&v6.sin6_addr, address.bytes.data(), 16);
    return sizeof v6;
  }
  auto& v4 = reinterpret_cast<sockaddr_in&>(out);
  v4.sin_family = AF_INET;
  v4.sin_port = htons(address.port);
  std::memcpy(&v4.sin_addr, address.bytes.data(), 4);
  return sizeof v4;
}

NetAddress fromSystem(const sockaddr* address) {
  NetAddress result;
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    result.family = 4;
    std::memcpy(result.bytes.data(), &v4->sin_addr, 4);
    result.port = ntohs(v4->sin_port);
  } else if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    result.family = 6;
    std::memcpy(result.bytes.data(), &v6->sin6_addr, 16);
    result.port = ntohs(v6->sin6_port);
  }
  return result;
}

enum class Wait { ready, timedOut, failed };

// Waits for `events` on `fd` until the deadline; a signal only restarts the wait with what is
// left of it. On `failed`, errno says why.
Wait waitFor(int fd, short events, const Deadline& deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, deadline.remainingMs());
    if (ready > 0) return Wait::ready;
    if (ready == 0) {
      if (deadline.expired()) return Wait::timedOut;
      continue;
    }
    if (errno != EINTR) return Wait::failed;
  }
}

Outcome lostWithSystemReason(int error) { return Outcome::lost(errorText(error)); }

// Every write is a whole command or a full buffer: holding a short one back until the last is
// acknowledged only adds a delayed acknowledgement's wait to each exchange (TLS handshakes).
void sendAtOnce(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

void ignoreBrokenPipe() {
  struct sigaction current {};
  if (::sigaction(SIGPIPE, nullptr, &current) != 0) return;
  // Leave a disposition someone else chose alone.
  if (current.sa_handler != SIG_DFL) return;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}


std::string NetAddress::text() const {
  if (!valid()) return "";
  char buffer[INET6_ADDRSTRLEN] = {};
  if (::inet_ntop(systemFamily(family), bytes.data(), buffer, sizeof buffer) == nullptr) return "";
  return buffer;
}

std::vector<NetAddress> resolveHost(const std::string& host, std::uint16_t port,
                                    std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  // No AI_ADDRCONFIG: it hides ::1 on a machine whose only IPv6 address is the loopback one.
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
  std::vector<NetAddress> result;
  if (status != 0) {
    error = "name not resolved: " +
            (status == EAI_SYSTEM ? errorText(errno) : std::string(::gai_strerror(status)));
    return result;
  }
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    NetAddress address = fromSystem(entry->ai_addr);
    if (address.valid()) result.push_back(address);
  }
  if (result.empty()) {
    error = "name not resolved: no IPv4 or IPv6 address";
  } else {
    error.clear();
  }
  return result;
}

Outcome Socket::connect(const NetAddress& address, const Deadline& deadline) {
  close();
  if (!address.valid()) return Outcome::local("no address to connect to");
  // Non-blocking from the start, so that the connect itself waits only as long as the deadline.
  Socket candidate(::socket(systemFamily(address.family),
                            SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (!candidate.isOpen()) return Outcome::local(errorText(errno));
  const int fd = static_cast<int>(candidate.handle_);
  sockaddr_storage peer{};
  const socklen_t length = toSystem(address, peer);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), length) != 0) {
    // After EINTR the connection is still being made, as after EINPROGRESS.
    if (errno != EINPROGRESS && errno != EINTR) return lostWithSystemReason(errno);
    switch (waitFor(fd, POLLOUT, deadline)) {
      case Wait::timedOut:
        return Outcome::timeout("connect timed out");
      case Wait::failed:
        return lostWithSystemReason(errno);
      case Wait::ready:
        break;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    if (error != 0) return lostWithSystemReason(error);
  }
  sendAtOnce(fd);
  *this = std::move(candidate);
  return Outcome::success();
}

Outcome Socket::readSome(char* buffer, std::size_t capacity, std::size_t& got,
                         const Deadline& deadline) {
  got = 0;
  if (!isOpen()) return Outcome::lost("not connected");
  const int fd = static_cast<int>(handle_);
  for (;;) {
    // Tried before waiting: while data flows, a wait first is one more system call per read.
    const ssize_t count = ::recv(fd, buffer, capacity, 0);
    if (count >= 0) {
      got = static_cast<std::size_t>(count);
      return Outcome::success();
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return lostWithSystemReason(errno);
    switch (waitFor(fd, POLLIN, deadline)) {
      case Wait::timedOut:
        return Outcome::timeout("no data");
      case Wait::failed:
        return lostWithSystemReason(errno);
      case Wait::ready:
        break;
    }
  }
}

Outcome Socket::writeAll(const char* data, std::size_t length, const Deadline& deadline) {
  if (!isOpen()) return Outcome::lost("not connected");
  const int fd = static_cast<int>(handle_);
  while (length > 0) {
    // Tried before waiting, as a read is.
    const ssize_t written = ::send(fd, data, length, MSG_NOSIGNAL);
    if (written >= 0) {
      data += written;
      length -= static_cast<std::size_t>(written);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return lostWithSystemReason(errno);
    switch (waitFor(fd, POLLOUT, deadline)) {
      case Wait::timedOut:
        return Outcome::timeout("send timed out");
      case Wait::failed:
        return lostWithSystemReason(errno);
      case Wait::ready:
        break;
    }
  }
  return Outcome::success();
}

NetAddress Socket::peer() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (!isOpen() || ::getpeername(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&address),
                                 &length) != 0) {
    return {};
  }
  return fromSystem(reinterpret_cast<const sockaddr*>(&address));
}

NetAddress Socket::local() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (!isOpen() || ::getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&address),
                                 &length) != 0) {
    return {};
  }
  return fromSystem(reinterpret_cast<const sockaddr*>(&address));
}

void Socket::shutdownSend() {
  if (isOpen()) ::shutdown(static_cast<int>(handle_), SHUT_WR);
}

void Socket::close() {
  if (!isOpen()) return;
  // Not retried on EINTR: the descriptor is gone either way on Linux.
  ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

void Socket::abort() {
  if (!isOpen()) return;
  // A zero linger time makes the close send a reset instead of the end of the stream.
  linger reset{1, 0};
  ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close();
}

Outcome Listener::open(const NetAddress& local, int backlog) {
  close();
  if (!local.valid()) return Outcome::local("no address to listen on");
  // Non-blocking, so that a connection the peer gives up between poll and accept cannot block.
  Socket candidate(
      ::socket(systemFamily(local.family), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!candidate.isOpen()) return Outcome::local(errorText(errno));
  const int fd = static_cast<int>(candidate.handle_);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (local.family == 6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  sockaddr_storage address{};
  const socklen_t length = toSystem(local, address);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(fd, backlog) != 0) {
    return Outcome::local(errorText(errno));
  }
  handle_ = candidate.handle_;
  candidate.handle_ = Socket::kNoHandle;
  return Outcome::success();
}

NetAddress Listener::address() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (!isOpen() || ::getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&address),
                                 &length) != 0) {
    return {};
  }
  return fromSystem(reinterpret_cast<const sockaddr*>(&address));
}

Outcome Listener::accept(Socket& connection, NetAddress& peer, const Deadline& deadline) {
  if (!isOpen()) return Outcome::local("not listening");
  const int fd = static_cast<int>(handle_);
  for (;;) {
    switch (waitFor(fd, POLLIN, deadline)) {
      case Wait::timedOut:
        return Outcome::timeout("accept timed out");
      case Wait::failed:
        return Outcome::local(errorText(errno));
      case Wait::ready:
        break;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    Socket accepted(::accept4(fd, reinterpret_cast<sockaddr*>(&address), &length,
                              SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (accepted.isOpen()) {
      sendAtOnce(static_cast<int>(accepted.handle_));
      connection = std::move(accepted);
      peer = fromSystem(reinterpret_cast<const sockaddr*>(&address));
      return Outcome::success();
    }
    // The connection may have gone again before it was taken: wait for the next one.
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) {
      return Outcome::local(errorText(errno));
    }
  }
}

void Listener::close() {
  if (handle_ == Socket::kNoHandle) return;
  ::close(static_cast<int>(handle_));
  handle_ = Socket::kNoHandle;
}

}  // namespace platform
