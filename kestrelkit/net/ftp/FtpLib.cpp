#include "kestrelkit/net/ftp/FtpLib.h"

#include <ftplib.h>

#include <cstdlib>
#include <cstring>

#include "kestrelkit/net/ftp/FtpLibChecks.h"
#include "kestrelkit/net/ftp/FtpLibNetBuf.h"
#include "kestrelkit/net/ftp/FtpLibSocket.h"

namespace kestrelkit::net::ftp {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;
using detail::fitsOnCommandLine;
using detail::isCString;
using detail::isTransferMode;

// A C string from a library buffer, up to its first NUL, CR or LF and never past `capacity`.
std::string textOf(const char* buffer, std::size_t capacity) {
  std::size_t length = 0;
  while (length < capacity && buffer[length] != '\0' && buffer[length] != '\r' &&
         buffer[length] != '\n') {
    ++length;
  }
  return std::string(buffer, length);
}

// ftplib's transfers (FtpGet, FtpPut, FtpDir, FtpNlst) report success as soon as the data has
// stopped: they read the server's final reply but ignore it. The transfer only succeeded when
// that reply is a completion. If the control connection was lost before it, the reply buffer
// still holds the preliminary 1xx reply, which fails here too.
template <typename Transfer>
bool transferSucceeded(NetBuf* handle, Transfer call) {
  detail::StandardInputGuard keepInput;
  if (call() <= 0) return false;
  const char* reply = FtpLastResponse(handle);
  return reply != nullptr && reply[0] == '2';
}

}  // namespace

FtpLib::FtpLib() {
  FtpInit();
  detail::ignoreBrokenPipe();
}

FtpLib::~FtpLib() { close(); }

bool FtpLib::connect(const std::string& host, std::int32_t port) {
  Guard guard(lock_);
  // ftplib splits "host:port" at the first ":" and looks up a port that is not all digits as a
  // service name, dereferencing a null result when there is no such service (a negative port,
  // or a host with a ":" of its own). Ports beyond 65535 would be cut to 16 bits. None of these
  // reach it.
  if (!isCString(host) || host.find(':') != std::string::npos || port < 0 || port > 65535) {
    return false;
  }
  const std::string address = host + ":" + std::to_string(port);
  NetBuf* fresh = nullptr;
  if (FtpConnect(address.c_str(), &fresh) <= 0) return false;
  // A second connect replaces the first connection; the old one is ended rather than leaked.
  close();
  handle_ = fresh;
  return true;
}

bool FtpLib::login(const std::string& user, const std::string& password) {
  Guard guard(lock_);
  if (handle_ == nullptr || !fitsOnCommandLine(user, password)) return false;
  if (FtpLogin(user.c_str(), password.c_str(), handle_) <= 0) return false;
  systemType_.clear();
  getSystemType(systemType_);
  return true;
}

bool FtpLib::setActiveMode() {
  Guard guard(lock_);
  return handle_ != nullptr && FtpOptions(FTPLIB_CONNMODE, FTPLIB_PORT, handle_) > 0;
}

bool FtpLib::setPassiveMode() {
  Guard guard(lock_);
  return handle_ != nullptr && FtpOptions(FTPLIB_CONNMODE, FTPLIB_PASSIVE, handle_) > 0;
}

bool FtpLib::put(const std::string& localPath, const std::string& remotePath, char mode) {
  Guard guard(lock_);
  if (handle_ == nullptr || !isCString(localPath) || !fitsOnCommandLine(remotePath) ||
      !isTransferMode(mode)) {
    return false;
  }
  return transferSucceeded(
      handle_, [&] { return FtpPut(localPath.c_str(), remotePath.c_str(), mode, handle_); });
}

bool FtpLib::remoteSize(const std::string& path, std::int32_t& size, char mode) {
  Guard guard(lock_);
  if (handle_ == nullptr || !fitsOnCommandLine(path) || !isTransferMode(mode)) return false;
  unsigned int value = 0;
  if (FtpSize(path.c_str(), &value, mode, handle_) <= 0) return false;
  size = static_cast<std::int32_t>(value);
  return true;
}

bool FtpLib::remoteModDate(const std::string& path, std::string& out) {
  Guard guard(lock_);
  out.clear();
  if (handle_ == nullptr || !fitsOnCommandLine(path)) return false;
  constexpr int kSize = 100;
  // FtpModDate copies with strncpy and leaves no NUL when the reply fills the buffer.
  char buffer[kSize + 1] = {};
  if (FtpModDate(path.c_str(), buffer, kSize, handle_) <= 0) return false;
  out = textOf(buffer, kSize);
  return true;
}

bool FtpLib::mkdir(const std::string& path) {
  Guard guard(lock_);
  return handle_ != nullptr && fitsOnCommandLine(path) && FtpMkdir(path.c_str(), handle_) > 0;
}

bool FtpLib::getSystemType(std::string& out) {
  Guard guard(lock_);
  out.clear();
  if (!systemType_.empty()) {
    out = systemType_;
    return true;
  }
  if (handle_ == nullptr) return false;
  constexpr int kSize = 100;
  char buffer[kSize] = {};
  if (FtpSysType(buffer, kSize, handle_) <= 0) return false;
  // The library copies up to the next blank, so a one-word reply brings its line end along;
  // the system type is the word alone.
  out = textOf(buffer, kSize);
  return true;
}

bool FtpLib::isWindows() const {
  return !systemType_.empty() && systemType_.find("Windows") != std::string::npos;
}

bool FtpLib::chdir(const std::string& path) {
  Guard guard(lock_);
  return handle_ != nullptr && fitsOnCommandLine(path) && FtpChdir(path.c_str(), handle_) > 0;
}

bool FtpLib::cdup() {
  Guard guard(lock_);
  return handle_ != nullptr && FtpCDUp(handle_) > 0;
}

bool FtpLib::deleteFile(const std::string& path) {
  Guard guard(lock_);
  return handle_ != nullptr && fitsOnCommandLine(path) && FtpDelete(path.c_str(), handle_) > 0;
}

bool FtpLib::rmdir(const std::string& path) {
  Guard guard(lock_);
  return handle_ != nullptr && fitsOnCommandLine(path) && FtpRmdir(path.c_str(), handle_) > 0;
}

bool FtpLib::pwd(std::string& out) {
  Guard guard(lock_);
  out.clear();
  if (handle_ == nullptr) return false;
  constexpr int kSize = 256;
  char buffer[kSize] = {};
  if (FtpPwd(buffer, kSize, handle_) <= 0) return false;
  out = std::string(buffer, strnlen(buffer, kSize));
  return true;
}

std::string FtpLib::pwd() {
  Guard guard(lock_);
  std::string out;
  return pwd(out) ? out : std::string();
}

bool FtpLib::nlstToFile(const std::string& localPath, const std::string& remotePath) {
  return receiveToFile(localPath, remotePath, FTPLIB_DIR);
}

bool FtpLib::listToFile(const std::string& localPath, const std::string& remotePath) {
  return receiveToFile(localPath, remotePath, FTPLIB_DIR_VERBOSE);
}

bool FtpLib::rename(const std::string& from, const std::string& to) {
  Guard guard(lock_);
  return handle_ != nullptr && fitsOnCommandLine(from, to) &&
         FtpRename(from.c_str(), to.c_str(), handle_) > 0;
}

std::string FtpLib::lastResponse() {
  Guard guard(lock_);
  if (handle_ == nullptr) return std::string();
  const char* reply = FtpLastResponse(handle_);
  if (reply == nullptr) return std::string();
  return std::string(reply, strnlen(reply, detail::kResponseSize));
}

bool FtpLib::sendCommand(const std::string& command, char expected) {
  Guard guard(lock_);
  if (handle_ == nullptr || !fitsOnCommandLine(command)) return false;
  detail::ControlChannel channel(handle_);
  if (!channel.valid()) {
    detail::noteLocalFailure(handle_, "sendCommand: " + channel.failure());
    return false;
  }
  return channel.exchange(command, expected);
}

bool FtpLib::sendCommand(const char* command, char expected) {
  Guard guard(lock_);
  if (command == nullptr) return false;
  return sendCommand(std::string(command), expected);
}

bool FtpLib::utf8On() {
  Guard guard(lock_);
  return sendCommand("OPTS UTF8 ON", '2');
}

void FtpLib::quit() {
  Guard guard(lock_);
  if (handle_ == nullptr) return;
  FtpQuit(handle_);
  handle_ = nullptr;
}

void FtpLib::close() {
  Guard guard(lock_);
  if (handle_ == nullptr) return;
  // FtpClose frees the control record but not its read buffer.
  char* readBuffer = detail::controlReadBuffer(handle_);
  FtpClose(handle_);
  handle_ = nullptr;
  std::free(readBuffer);
}

}  // namespace kestrelkit::net::ftp
