#include "platform/Socket.h"

// clang-format off
// Winsock 2 before anything that brings in windows.h, which would add the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <cstring>
#include <memory>

#include "platform/win32/Wide.h"

namespace platform {
namespace {

// Winsock takes lengths as int: larger requests go in pieces.
int chunk(std::size_t length) {
  constexpr std::size_t kLargest = 1 << 30;
  return static_cast<int>(length < kLargest ? length : kLargest);
}

SOCKET systemHandle(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

std::string socketErrorText(int code) { return win32::systemMessage(static_cast<DWORD>(code)); }

std::string lastSocketErrorText() { return socketErrorText(::WSAGetLastError()); }

// Winsock is started on first use, once for the process, and left running until it ends. The
// system's reason when it could not be started, empty when it runs.
const std::string& winsockFailure() {
  static const std::string failure = [] {
    WSADATA data{};
    const int status = ::WSAStartup(MAKEWORD(2, 2), &data);
    return status == 0 ? std::string() : socketErrorText(status);
  }();
  return failure;
}

int systemFamily(int family) { return family == 6 ? AF_INET6 : AF_INET; }

int toSystem(const NetAddress& address, sockaddr_storage& out) {
  out = {};
  if (address.family == 6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = ::htons(address.port);
    std::memcpy(&v6.sin6_addr, address.bytes.data(), 16);
    return sizeof v6;
  }
  auto& v4 = reinterpret_cast<sockaddr_in&>(out);
  v4.sin_family = AF_INET;
  v4.sin_port = ::htons(address.port);
  std::memcpy(&v4.sin_addr, address.bytes.data(), 4);
  return sizeof v4;
}

NetAddress fromSystem(const sockaddr* address) {
  NetAddress result;
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    result.family = 4;
    std::memcpy(result.bytes.data(), &v4->sin_addr, 4);
    result.port = ::ntohs(v4->sin_port);
  } else if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    result.family = 6;
    std::memcpy(result.bytes.data(), &v6->sin6_addr, 16);
    result.port = ::ntohs(v6->sin6_port);
  }
  return result;
}

// A TCP socket in non-blocking mode (every wait goes through a poll with the deadline) that
// started programs do not inherit; INVALID_SOCKET with the reason in WSAGetLastError().
SOCKET openSocket(int family) {
  SOCKET handle = ::WSASocketW(systemFamily(family), SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (handle == INVALID_SOCKET) return handle;
  u_long nonBlocking = 1;
  if (::ioctlsocket(handle, FIONBIO, &nonBlocking) != 0) {
    const int error = ::WSAGetLastError();
    ::closesocket(handle);
    ::WSASetLastError(error);
    return INVALID_SOCKET;
  }
  return handle;
}

enum class Wait { ready, timedOut, failed };

// Waits for `events` on `handle` until the deadline. On `failed`, WSAGetLastError() says why.
Wait waitFor(SOCKET handle, short events, const Deadline& deadline) {
  for (;;) {
    WSAPOLLFD entry{handle, events, 0};
    const int ready = ::WSAPoll(&entry, 1, deadline.remainingMs());
    if (ready > 0) return Wait::ready;
    if (ready == 0) {
      if (deadline.expired()) return Wait::timedOut;
      continue;
    }
    if (::WSAGetLastError() != WSAEINTR) return Wait::failed;
  }
}

// The end of a connect. select rather than WSAPoll: before Windows 10 2004, WSAPoll does not
// report a connection that failed, which would turn a refusal into a time-out. Returns the
// connect's error code, 0 once connected, or -1 when the deadline passed first.
int waitConnected(SOCKET handle, const Deadline& deadline) {
  for (;;) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(handle, &writable);
    FD_SET(handle, &failed);
    const int remaining = deadline.remainingMs();
    timeval limit{remaining / 1000, (remaining % 1000) * 1000};
    const int ready = ::select(0, nullptr, &writable, &failed, remaining < 0 ? nullptr : &limit);
    if (ready == SOCKET_ERROR) {
      if (::WSAGetLastError() == WSAEINTR) continue;
      return ::WSAGetLastError();
    }
    if (ready == 0) {
      if (deadline.expired()) return -1;
      continue;
    }
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
      return ::WSAGetLastError();
    }
    // A failed connect is in the exception set; should SO_ERROR be clear there, still no success.
    if (error == 0 && FD_ISSET(handle, &failed)) error = WSAECONNREFUSED;
    return error;
  }
}

bool wouldBlock(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR; }

// Every write is a whole command or a full buffer: holding a short one back until the last is
// acknowledged only adds a delayed acknowledgement's wait to each exchange (TLS handshakes).
void sendAtOnce(SOCKET handle) {
  const BOOL on = TRUE;
  ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace

// Winsock never raises a signal for a closed peer: a write to it simply fails.
void ignoreBrokenPipe() {}

std::string NetAddress::text() const {
  if (!valid()) return "";
  char buffer[INET6_ADDRSTRLEN] = {};
  if (::inet_ntop(systemFamily(family), bytes.data(), buffer, sizeof buffer) == nullptr) return "";
  return buffer;
}

std::vector<NetAddress> resolveHost(const std::string& host, std::uint16_t port,
                                    std::string& error) {
  std::vector<NetAddress> result;
  if (!winsockFailure().empty()) {
    error = "name not resolved: " + winsockFailure();
    return result;
  }
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  // The wide form, so that a name beyond ASCII is not squeezed through the ANSI code page.
  ADDRINFOW* found = nullptr;
  const int status =
      ::GetAddrInfoW(win32::widen(host).c_str(), std::to_wstring(port).c_str(), &hints, &found);
  std::unique_ptr<ADDRINFOW, decltype(&::FreeAddrInfoW)> owned(found, &::FreeAddrInfoW);
  if (status != 0) {
    error = "name not resolved: " + socketErrorText(status);
    return result;
  }
  for (const ADDRINFOW* entry = found; entry != nullptr; entry = entry->ai_next) {
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
  if (!winsockFailure().empty()) return Outcome::local(winsockFailure());
  Socket candidate(static_cast<std::intptr_t>(openSocket(address.family)));
  if (!candidate.isOpen()) return Outcome::local(lastSocketErrorText());
  const SOCKET handle = systemHandle(candidate.handle_);
  sockaddr_storage peer{};
  const int length = toSystem(address, peer);
  if (::connect(handle, reinterpret_cast<const sockaddr*>(&peer), length) != 0) {
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return Outcome::lost(socketErrorText(error));
    const int result = waitConnected(handle, deadline);
    if (result < 0) return Outcome::timeout("connect timed out");
    if (result != 0) return Outcome::lost(socketErrorText(result));
  }
  sendAtOnce(handle);
  *this = std::move(candidate);
  return Outcome::success();
}

Outcome Socket::readSome(char* buffer, std::size_t capacity, std::size_t& got,
                         const Deadline& deadline) {
  got = 0;
  if (!isOpen()) return Outcome::lost("not connected");
  const SOCKET handle = systemHandle(handle_);
  for (;;) {
    // Tried before waiting: while data flows, a wait first is one more system call per read.
    const int count = ::recv(handle, buffer, chunk(capacity), 0);
    if (count != SOCKET_ERROR) {
      got = static_cast<std::size_t>(count);
      return Outcome::success();
    }
    const int error = ::WSAGetLastError();
    if (!wouldBlock(error)) return Outcome::lost(socketErrorText(error));
    switch (waitFor(handle, POLLRDNORM, deadline)) {
      case Wait::timedOut:
        return Outcome::timeout("no data");
      case Wait::failed:
        return Outcome::lost(lastSocketErrorText());
      case Wait::ready:
        break;
    }
  }
}

Outcome Socket::writeAll(const char* data, std::size_t length, const Deadline& deadline) {
  if (!isOpen()) return Outcome::lost("not connected");
  const SOCKET handle = systemHandle(handle_);
  while (length > 0) {
    // Tried before waiting, as a read is.
    const int written = ::send(handle, data, chunk(length), 0);
    if (written != SOCKET_ERROR) {
      data += written;
      length -= static_cast<std::size_t>(written);
      continue;
    }
    const int error = ::WSAGetLastError();
    if (!wouldBlock(error)) return Outcome::lost(socketErrorText(error));
    switch (waitFor(handle, POLLWRNORM, deadline)) {
      case Wait::timedOut:
        return Outcome::timeout("send timed out");
      case Wait::failed:
        return Outcome::lost(lastSocketErrorText());
      case Wait::ready:
        break;
    }
  }
  return Outcome::success();
}

NetAddress Socket::peer() const {
  sockaddr_storage address{};
  int length = sizeof address;
  if (!isOpen() ||
      ::getpeername(systemHandle(handle_), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return {};
  }
  return fromSystem(reinterpret_cast<const sockaddr*>(&address));
}

NetAddress Socket::local() const {
  sockaddr_storage address{};
  int length = sizeof address;
  if (!isOpen() ||
      ::getsockname(systemHandle(handle_), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return {};
  }
  return fromSystem(reinterpret_cast<const sockaddr*>(&address));
}

void Socket::shutdownSend() {
  if (isOpen()) ::shutdown(systemHandle(handle_), SD_SEND);
}

void Socket::close() {
  if (!isOpen()) return;
  ::closesocket(systemHandle(handle_));
  handle_ = kNoHandle;
}

void Socket::abort() {
  if (!isOpen()) return;
  // A zero linger time makes the close send a reset instead of the end of the stream.
  linger reset{1, 0};
  ::setsockopt(systemHandle(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
               sizeof reset);
  close();
}

Outcome Listener::open(const NetAddress& local, int backlog) {
  close();
  if (!local.valid()) return Outcome::local("no address to listen on");
  if (!winsockFailure().empty()) return Outcome::local(winsockFailure());
  Socket candidate(static_cast<std::intptr_t>(openSocket(local.family)));
  if (!candidate.isOpen()) return Outcome::local(lastSocketErrorText());
  const SOCKET handle = systemHandle(candidate.handle_);
  // No SO_REUSEADDR: on Windows it would let another socket take over the port, and a port in
  // TIME_WAIT can be bound again without it.
  if (local.family == 6) {
    const DWORD on = 1;
    ::setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on);
  }
  sockaddr_storage address{};
  const int length = toSystem(local, address);
  if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(handle, backlog) != 0) {
    return Outcome::local(lastSocketErrorText());
  }
  handle_ = candidate.handle_;
  candidate.handle_ = Socket::kNoHandle;
  return Outcome::success();
}

NetAddress Listener::address() const {
  sockaddr_storage address{};
  int length = sizeof address;
  if (!isOpen() ||
      ::getsockname(systemHandle(handle_), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return {};
  }
  return fromSystem(reinterpret_cast<const sockaddr*>(&address));
}

Outcome Listener::accept(Socket& connection, NetAddress& peer, const Deadline& deadline) {
  if (!isOpen()) return Outcome::local("not listening");
  const SOCKET handle = systemHandle(handle_);
  for (;;) {
    switch (waitFor(handle, POLLRDNORM, deadline)) {
      case Wait::timedOut:
        return Outcome::timeout("accept timed out");
      case Wait::failed:
        return Outcome::local(lastSocketErrorText());
      case Wait::ready:
        break;
    }
    sockaddr_storage address{};
    int length = sizeof address;
    Socket accepted(static_cast<std::intptr_t>(
        ::accept(handle, reinterpret_cast<sockaddr*>(&address), &length)));
    if (accepted.isOpen()) {
      const SOCKET taken = systemHandle(accepted.handle_);
      // As the program's other sockets: not inherited by started programs, non-blocking.
      ::SetHandleInformation(reinterpret_cast<HANDLE>(taken), HANDLE_FLAG_INHERIT, 0);
      u_long nonBlocking = 1;
      ::ioctlsocket(taken, FIONBIO, &nonBlocking);
      sendAtOnce(taken);
      connection = std::move(accepted);
      peer = fromSystem(reinterpret_cast<const sockaddr*>(&address));
      return Outcome::success();
    }
    // The connection may have gone again before it was taken: wait for the next one.
    const int error = ::WSAGetLastError();
    if (!wouldBlock(error) && error != WSAECONNRESET) return Outcome::local(socketErrorText(error));
  }
}

void Listener::close() {
  if (handle_ == Socket::kNoHandle) return;
  ::closesocket(systemHandle(handle_));
  handle_ = Socket::kNoHandle;
}

}  // namespace platform
