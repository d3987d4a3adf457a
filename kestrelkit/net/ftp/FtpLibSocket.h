#pragma once

#include "platform/Socket.h"

// The few socket calls FtpLib makes next to ftplib, which itself talks to the operating system's
// sockets directly. The system calls live behind platform/Socket.h.
namespace kestrelkit::net::ftp::detail {

using platform::ignoreBrokenPipe;
using platform::isConnectedSocket;
using platform::isSocket;
using platform::StandardInputGuard;

/// Writes all of `data`; false on any error (a closed peer included).
bool writeAll(int fd, const char* data, std::size_t length);

/// Reads what is there, waiting for at least one byte; 0 at the end of the stream, -1 on error.
long readSome(int fd, char* buffer, std::size_t capacity);

}  // namespace kestrelkit::net::ftp::detail
