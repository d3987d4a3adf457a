#pragma once

#include <cstddef>
#include <string>

// The few socket calls made next to ftplib, which keeps each socket as an int (on Windows the
// value of the SOCKET handle) and talks to the system's sockets itself.
namespace platform {

/// Makes a peer that closed its end show up as a write error rather than ending the process.
/// Leaves a disposition someone else chose alone; nothing to do where the system never ends a
/// process for it.
void ignoreBrokenPipe();

/// True when `socket` is an open socket.
bool isSocket(int socket);

/// True when `socket` is an open socket connected to a peer.
bool isConnectedSocket(int socket);

/// Writes all of `data`; false on any error (a closed peer included).
bool socketWriteAll(int socket, const char* data, std::size_t length);

/// Reads what is there, waiting for at least one byte; 0 at the end of the stream, -1 on error.
long socketReadSome(int socket, char* buffer, std::size_t capacity);

/// Opens a TCP connection to the IPv4 address whose four bytes are `address` (most significant
/// first) and `port`. The socket, or -1 with the system's message in `error`.
int connectTcp4(const unsigned char (&address)[4], int port, std::string* error = nullptr);

/// Ends both directions of `socket` and closes it.
void closeSocket(int socket);

/// ftplib closes "socket" 0 when an active-mode data connection is not made (it clears the
/// listening socket's number to 0 and closes that number again later). Where socket numbers
/// and file descriptors share one space, that is standard input: while a guard lives, standard
/// input is kept (duplicated on construction and put back at destruction if descriptor 0 no
/// longer refers to the same file). Where they do not, the guard does nothing.
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

}  // namespace platform
