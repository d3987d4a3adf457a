// FtpLib::get: ftplib opens the transfer (TYPE, PASV or PORT, RETR) and reads the final reply;
// the data itself moves from the data socket to the local file through one large buffer. ftplib's
// own loop moves it 8 KiB at a time through stdio, and its text-mode reader writes past its
// buffer on lines longer than 8 KiB.
#include <ftplib.h>

#include <memory>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpLibChecks.h"
#include "kestrelkit/net/ftp/FtpLibDataConnection.h"
#include "kestrelkit/net/ftp/FtpLibNetBuf.h"
#include "kestrelkit/net/ftp/FtpLibSocket.h"
#include "platform/Files.h"

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

}  // namespace

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
  // Opened before any command, so a local problem costs no round trip.
  platform::OutputFile file;
  std::string failure;
  if (!file.open(localPath, &failure)) {
    detail::noteLocalFailure(handle_, failure);
    return false;
  }
  detail::StandardInputGuard keepInput;
  NetBuf* data = nullptr;
  if (FtpAccess(remotePath.c_str(), FTPLIB_FILE_READ, mode, handle_, &data) <= 0) {
    // Nothing was received: the empty file goes again.
    file.close();
    platform::deleteFile(localPath);
    return false;
  }
  detail::DataConnection connection(data);
  const int socket = detail::verifiedDataSocket(data, handle_, mode, failure);
  if (socket < 0) {
    connection.close();
    detail::noteLocalFailure(handle_, "get: " + failure);
    return false;
  }
  if (!transferBuffer_)
    transferBuffer_ = std::make_unique_for_overwrite<char[]>(kTransferBufferSize);
  bool stored =
      receive({socket, mode == FTPLIB_ASCII, transferBuffer_.get(), observer_}, file, failure);
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
