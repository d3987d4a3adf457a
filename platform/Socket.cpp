// The parts of the socket layer that need no system call: the same on every platform.
#include "platform/Socket.h"

#include <cstring>

namespace platform {

bool NetAddress::sameHost(const NetAddress& other) const {
  // An IPv4-mapped IPv6 address stands for its IPv4 address.
  auto plain = [](const NetAddress& address) {
    static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    NetAddress result = address;
    if (address.family == 6 && std::memcmp(address.bytes.data(), kMapped, 12) == 0) {
      result.family = 4;
      result.bytes = {};
      std::memcpy(result.bytes.data(), address.bytes.data() + 12, 4);
    }
    return result;
  };
  const NetAddress mine = plain(*this);
  const NetAddress theirs = plain(other);
  if (!mine.valid() || mine.family != theirs.family) return false;
  const std::size_t length = mine.family == 6 ? 16 : 4;
  return std::memcmp(mine.bytes.data(), theirs.bytes.data(), length) == 0;
}

std::string NetAddress::textWithPort() const {
  const std::string host = family == 6 ? "[" + text() + "]" : text();
  return host + ":" + std::to_string(port);
}

NetAddress loopbackAddress(int family, std::uint16_t port) {
  NetAddress address;
  address.family = family == 6 ? 6 : 4;
  if (address.family == 6) {
    address.bytes[15] = 1;
  } else {
    address.bytes[0] = 127;
    address.bytes[3] = 1;
  }
  address.port = port;
  return address;
}

Socket::~Socket() { close(); }

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoHandle; }

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = kNoHandle;
  }
  return *this;
}

Listener::~Listener() { close(); }

Listener::Listener(Listener&& other) noexcept : handle_(other.handle_) {
  other.handle_ = Socket::kNoHandle;
}

Listener& Listener::operator=(Listener&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = Socket::kNoHandle;
  }
  return *this;
}

}  // namespace platform
