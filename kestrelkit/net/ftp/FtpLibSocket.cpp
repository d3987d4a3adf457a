#include "kestrelkit/net/ftp/FtpLibSocket.h"

namespace kestrelkit::net::ftp::detail {

bool writeAll(int fd, const char* data, std::size_t length) {
  return platform::socketWriteAll(fd, data, length);
}

long readSome(int fd, char* buffer, std::size_t capacity) {
  return platform::socketReadSome(fd, buffer, capacity);
}

}  // namespace kestrelkit::net::ftp::detail
