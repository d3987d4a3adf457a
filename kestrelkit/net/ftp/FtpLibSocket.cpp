#include "kestrelkit/net/ftp/FtpLibSocket.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrelkit::net::ftp::detail {
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

bool isSocket(int fd) {
  struct stat info {};
  return fd >= 0 && ::fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode);
}

bool isConnectedSocket(int fd) {
  if (!isSocket(fd)) return false;
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

bool writeAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    ssize_t written = ::send(fd, data, length, MSG_NOSIGNAL);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

long readSome(int fd, char* buffer, std::size_t capacity) {
  for (;;) {
    ssize_t got = ::read(fd, buffer, capacity);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR && errno != EAGAIN) return -1;
  }
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

}  // namespace kestrelkit::net::ftp::detail
