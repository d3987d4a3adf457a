#pragma once

#include <cstddef>

// The few socket and descriptor calls FtpLib makes next to ftplib, which itself talks to the
// operating system's sockets directly. Kept in one file so that a port replaces one file.
namespace kestrelkit::net::ftp::detail {

/// Makes a peer that closed its end show up as a write error rather than ending the process
/// (ftplib writes to its sockets with plain write calls). Called when the network layer starts.
void ignoreBrokenPipe();

/// True when `fd` is an open socket.
bool isSocket(int fd);

/// True when `fd` is an open socket connected to a peer.
bool isConnectedSocket(int fd);

/// Writes all of `data`; false on any error (a closed peer included).
bool writeAll(int fd, const char* data, std::size_t length);

/// Reads what is there, waiting for at least one byte; 0 at the end of the stream, -1 on error.
long readSome(int fd, char* buffer, std::size_t capacity);

/// ftplib closes descriptor 0 when an active-mode data connection is not made (it clears the
/// listening socket's number to 0 and closes that "socket" again later). While one of these
/// guards lives, standard input is kept: it is duplicated on construction and, if descriptor 0
/// no longer refers to the same file at destruction, put back.
class StandardInputGuard {
 public:
  StandardInputGuard();
  ~StandardInputGuard();
  StandardInputGuard(const StandardInputGuard&) = delete;
  StandardInputGuard& operator=(const StandardInputGuard&) = delete;

 private:
  int saved_ = -1;
  unsigned long device_ = 0;
  unsigned long inode_ = 0;
};

}  // namespace kestrelkit::net::ftp::detail
