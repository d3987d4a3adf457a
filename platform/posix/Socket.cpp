#include "platform/Socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/Files.h"

namespace platform {
namespace {

bool identity(int fd, unsigned long& device, unsigned long& inode) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  device = static_cast<unsigned long>(info.st_dev);
  inode = static_cast<unsigned long>(info.st_ino);
  return true;
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

bool isSocket(int socket) {
  struct stat info {};
  return socket >= 0 && ::fstat(socket, &info) == 0 && S_ISSOCK(info.st_mode);
}

bool isConnectedSocket(int socket) {
  if (!isSocket(socket)) return false;
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  return ::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

bool socketWriteAll(int socket, const char* data, std::size_t length) {
  while (length > 0) {
    ssize_t written = ::send(socket, data, length, MSG_NOSIGNAL);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

long socketReadSome(int socket, char* buffer, std::size_t capacity) {
  for (;;) {
    ssize_t got = ::read(socket, buffer, capacity);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR && errno != EAGAIN) return -1;
  }
}

int connectTcp4(const unsigned char (&address)[4], int port, std::string* error) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    if (error) *error = errorText(errno);
    return -1;
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<std::uint16_t>(port));
  std::memcpy(&peer.sin_addr, address, sizeof address);
  while (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno == EINTR) continue;
    if (error) *error = errorText(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

void closeSocket(int socket) {
  if (socket < 0) return;
  ::shutdown(socket, SHUT_RDWR);
  ::close(socket);
}

StandardInputGuard::StandardInputGuard() {
  if (!identity(0, device_, inode_)) return;
  saved_ = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
}

StandardInputGuard::~StandardInputGuard() {
  if (saved_ < 0) return;
  unsigned long device = 0;
  unsigned long inode = 0;
  if (!identity(0, device, inode) || device != device_ || inode != inode_) {
    ::dup2(saved_, 0);
  }
  ::close(saved_);
}

}  // namespace platform
