#include "platform/Socket.h"

#include <winsock2.h>

#include <cstring>

#include "platform/win32/Wide.h"

namespace platform {
namespace {

// ftplib stores the SOCKET handle in an int; its value is what the system handed out.
SOCKET handleOf(int socket) { return static_cast<SOCKET>(static_cast<unsigned int>(socket)); }

// Winsock takes lengths as int: larger requests go in pieces.
int chunk(std::size_t length) {
  constexpr std::size_t kLargest = 1 << 30;
  return static_cast<int>(length < kLargest ? length : kLargest);
}

}  // namespace

// Winsock never raises a signal for a closed peer: a write to it simply fails.
void ignoreBrokenPipe() {}

bool isSocket(int socket) {
  if (socket <= 0) return false;
  int type = 0;
  int length = sizeof type;
  return ::getsockopt(handleOf(socket), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type),
                      &length) == 0;
}

bool isConnectedSocket(int socket) {
  if (!isSocket(socket)) return false;
  sockaddr_storage peer{};
  int length = sizeof peer;
  return ::getpeername(handleOf(socket), reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

bool socketWriteAll(int socket, const char* data, std::size_t length) {
  while (length > 0) {
    int written = ::send(handleOf(socket), data, chunk(length), 0);
    if (written == SOCKET_ERROR) {
      if (::WSAGetLastError() == WSAEINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

long socketReadSome(int socket, char* buffer, std::size_t capacity) {
  for (;;) {
    int got = ::recv(handleOf(socket), buffer, chunk(capacity), 0);
    if (got != SOCKET_ERROR) return got;
    if (::WSAGetLastError() != WSAEINTR) return -1;
  }
}

int connectTcp4(const unsigned char (&address)[4], int port, std::string* error) {
  SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) {
    if (error) *error = win32::systemMessage(static_cast<DWORD>(::WSAGetLastError()));
    return -1;
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = ::htons(static_cast<u_short>(port));
  std::memcpy(&peer.sin_addr, address, sizeof address);
  if (::connect(handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == SOCKET_ERROR) {
    if (error) *error = win32::systemMessage(static_cast<DWORD>(::WSAGetLastError()));
    ::closesocket(handle);
    return -1;
  }
  // As ftplib keeps them: the handle's value in an int.
  return static_cast<int>(handle);
}

void closeSocket(int socket) {
  if (socket < 0) return;
  ::shutdown(handleOf(socket), SD_BOTH);
  ::closesocket(handleOf(socket));
}

// Socket handles and the C runtime's descriptors are separate spaces on Windows: ftplib's
// stray close of "socket" 0 cannot reach standard input.
StandardInputGuard::StandardInputGuard() {}

StandardInputGuard::~StandardInputGuard() {}

}  // namespace platform
