// FtpLib::get: ftplib opens the transfer (TYPE, PASV or PORT, RETR) and reads the final reply;
// the data itself moves from the data socket to the local file through one large buffer. ftplib's
// own loop moves it 8 KiB at a time through stdio, and its text-mode reader writes past its
// buffer on lines longer than 8 KiB.
#include <ftplib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpLibChecks.h"
#include "kestrelkit/net/ftp/FtpLibDataConnection.h"
#include "kestrelkit/net/ftp/FtpLibNetBuf.h"
#include "kestrelkit/net/ftp/FtpLibSocket.h"
#include "platform/Files.h"
#include "platform/Socket.h"

namespace kestrelkit::net::ftp {
namespace {

constexpr std::size_t kTransferBufferSize = std::size_t{1} << 20;

/// Turns every CR LF of a text-mode transfer into LF; other bytes, a lone CR included, pass
/// unchanged. A CR that ends one read is held back until the next byte shows what it is.
class LineEndFilter {
 public:
  /// Converts the `length` bytes at `buffer` + 1 into `buffer` (one byte earlier, room for a
  /// held-back CR); returns the converted length. The output never overtakes the input.
  std::size_t convert(char* buffer, std::size_t length) {
    const char* in = buffer + 1;
    const char* const end = in + length;
    char* out = buffer;
    if (heldCr_ && in < end) {
      heldCr_ = false;
      if (*in != '\n') *out++ = '\r';
    }
    while (in < end) {
      const char c = *in++;
      if (c == '\r') {
        if (in == end) {
          heldCr_ = true;
          break;
        }
        if (*in == '\n') continue;
      }
      *out++ = c;
    }
    return static_cast<std::size_t>(out - buffer);
  }

  /// True when the data ended right after a CR, which then belongs to the file.
  bool holdsCr() const { return heldCr_; }

 private:
  bool heldCr_ = false;
};

struct Transfer {
  int socket;
  bool text;
  char* buffer;
  const TransferObserver& observer;
};

/// Moves the data connection's bytes into `file` until the data ends; a failed read ends it too,
/// as with ftplib, and the server's final reply then tells. False with the system's message in
/// `failure` when the local file cannot take the data.
bool receive(const Transfer& transfer, platform::OutputFile& file, std::string& failure) {
  LineEndFilter filter;
  // Text mode reads one byte in, leaving room in front for a CR held back from the last read.
  const std::size_t offset = transfer.text ? 1 : 0;
  std::uint64_t written = 0;
  for (;;) {
    const long got =
        detail::readSome(transfer.socket, transfer.buffer + offset, kTransferBufferSize - offset);
    if (got <= 0) break;
    const std::size_t length = transfer.text
                                   ? filter.convert(transfer.buffer, static_cast<std::size_t>(got))
                                   : static_cast<std::size_t>(got);
    if (!file.write(transfer.buffer, length, &failure)) return false;
    written += length;
    if (transfer.observer) transfer.observer(written);
  }
  return !filter.holdsCr() || file.write("\r", 1, &failure);
}

/// The address and port of a "227" reply, read as ftplib reads them (the six numbers after the
/// first "("), but refused unless all six are there and each fits a byte.
bool passiveAddress(const char* reply, unsigned char (&address)[4], int& port) {
  const char* open = reply == nullptr ? nullptr : std::strchr(reply, '(');
  if (open == nullptr) return false;
  unsigned int v[6] = {};
  if (std::sscanf(open + 1, "%u,%u,%u,%u,%u,%u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6) {
    return false;
  }
  for (unsigned int part : v) {
    if (part > 255) return false;
  }
  for (int i = 0; i < 4; ++i) address[i] = static_cast<unsigned char>(v[i]);
  port = static_cast<int>(v[4] * 256 + v[5]);
  return true;
}

/// A data connection of our own, closed on every way out.
class DataSocket {
 public:
  explicit DataSocket(int socket) : socket_(socket) {}
  ~DataSocket() { close(); }
  DataSocket(const DataSocket&) = delete;
  DataSocket& operator=(const DataSocket&) = delete;

  int get() const { return socket_; }
  void close() {
    platform::closeSocket(socket_);
    socket_ = -1;
  }

 private:
  int socket_;
};

/// The reply buffer of the control connection `handle`, which FtpLastResponse reads.
std::string replyOf(NetBuf* handle) {
  const char* reply = FtpLastResponse(handle);
  return reply == nullptr ? std::string() : std::string(reply);
}

void restoreReply(NetBuf* handle, const std::string& text) {
  char* reply = FtpLastResponse(handle);
  if (reply == nullptr) return;
  const std::size_t length = std::min(text.size(), detail::kResponseSize - 1);
  std::memcpy(reply, text.data(), length);
  reply[length] = '\0';
}

/// Removes the local file of a retrieval that never started, as ftplib does.
void abandon(platform::OutputFile& file, const std::string& localPath) {
  file.close();
  platform::deleteFile(localPath);
}

/// Opens (or empties) the local file of a transfer before any command is sent, so that a local
/// problem costs no round trip; its reason becomes the last response.
bool openLocal(NetBuf* handle, const std::string& localPath, platform::OutputFile& file) {
  std::string failure;
  if (file.open(localPath, &failure)) return true;
  detail::noteLocalFailure(handle, failure);
  return false;
}

// ftplib refuses a RETR line that would not fit its 1,024-byte command buffer.
bool fitsRetrieveCommand(const std::string& remotePath) {
  return remotePath.size() + 6 < detail::kResponseSize;
}

}  // namespace

/// A passive-mode retrieval with "TYPE" and "PASV" sent together: the server answers them in
/// order, so both replies come back after one round trip instead of two. Otherwise the commands,
/// their order, the replies relied on and what is left as the last response are those of
/// ftplib's FtpAccess and FtpClose.
bool FtpLib::getPassive(detail::ControlChannel& channel, platform::OutputFile& file,
                        const std::string& localPath, const std::string& remotePath, char mode) {
  if (!channel.send(std::string("TYPE ") + mode + "\r\nPASV\r\n")) {
    abandon(file, localPath);
    return false;
  }
  if (!channel.readReply('2')) {
    // ftplib would have stopped before "PASV": its reply is read to stay in step, and the
    // refusal of "TYPE" stays the last response.
    const std::string refusal = replyOf(handle_);
    channel.readReply('2');
    restoreReply(handle_, refusal);
    abandon(file, localPath);
    return false;
  }
  unsigned char address[4] = {};
  int port = 0;
  if (!channel.readReply('2') || !passiveAddress(FtpLastResponse(handle_), address, port)) {
    abandon(file, localPath);
    return false;
  }
  DataSocket data(platform::connectTcp4(address, port));
  if (data.get() < 0) {
    abandon(file, localPath);
    return false;
  }
  if (!channel.exchange("RETR " + remotePath, '1')) {
    data.close();
    // As ftplib's FtpClose of the unused data connection: unless the refusal was a 4xx or 5xx
    // reply, a final reply follows.
    const std::string refusal = replyOf(handle_);
    if (refusal.empty() || (refusal[0] != '4' && refusal[0] != '5')) channel.readReply('2');
    abandon(file, localPath);
    return false;
  }
  std::string failure;
  bool stored =
      receive({data.get(), mode == FTPLIB_ASCII, transferBuffer(), observer_}, file, failure);
  stored = file.close(stored ? &failure : nullptr) && stored;
  data.close();
  const bool completed = channel.readReply('2');
  if (!stored) {
    detail::noteLocalFailure(handle_, failure);
    return false;
  }
  return completed;
}

char* FtpLib::transferBuffer() {
  if (!transferBuffer_) {
    transferBuffer_ = std::make_unique_for_overwrite<char[]>(kTransferBufferSize);
  }
  return transferBuffer_.get();
}

void FtpLib::setTransferObserver(TransferObserver observer) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  observer_ = std::move(observer);
}

bool FtpLib::get(const std::string& localPath, const std::string& remotePath, char mode) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (handle_ == nullptr || !detail::isCString(localPath) ||
      !detail::fitsOnCommandLine(remotePath) || !detail::isTransferMode(mode)) {
    return false;
  }
  platform::OutputFile file;
  if (!openLocal(handle_, localPath, file)) return false;
  detail::ControlChannel channel(handle_);
  if (channel.valid() && channel.passive() && fitsRetrieveCommand(remotePath)) {
    return getPassive(channel, file, localPath, remotePath, mode);
  }
  return receiveThroughLibrary(file, localPath, remotePath, FTPLIB_FILE_READ, mode);
}

bool FtpLib::receiveToFile(const std::string& localPath, const std::string& path, int type) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (handle_ == nullptr || !detail::isCString(localPath) || !detail::fitsOnCommandLine(path)) {
    return false;
  }
  platform::OutputFile file;
  if (!openLocal(handle_, localPath, file)) return false;
  return receiveThroughLibrary(file, localPath, path, type, FTPLIB_ASCII);
}

bool FtpLib::receiveThroughLibrary(platform::OutputFile& file, const std::string& localPath,
                                   const std::string& path, int type, char mode) {
  detail::StandardInputGuard keepInput;
  NetBuf* data = nullptr;
  if (FtpAccess(path.c_str(), type, mode, handle_, &data) <= 0) {
    file.close();
    // Nothing was received: a retrieval's empty file goes again, as with ftplib.
    if (type == FTPLIB_FILE_READ) platform::deleteFile(localPath);
    return false;
  }
  detail::DataConnection connection(data);
  std::string failure;
  const int socket = detail::verifiedDataSocket(data, handle_, mode, failure);
  if (socket < 0) {
    connection.close();
    detail::noteLocalFailure(handle_, (type == FTPLIB_FILE_READ ? "get: " : "list: ") + failure);
    return false;
  }
  bool stored = receive({socket, mode == FTPLIB_ASCII, transferBuffer(), observer_}, file, failure);
  stored = file.close(stored ? &failure : nullptr) && stored;
  // Reads the server's final reply; a local failure then replaces it as the reason.
  connection.close();
  if (!stored) {
    detail::noteLocalFailure(handle_, failure);
    return false;
  }
  const char* reply = FtpLastResponse(handle_);
  return reply != nullptr && reply[0] == '2';
}

}  // namespace kestrelkit::net::ftp
