#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"

struct NetBuf;

namespace platform {
class OutputFile;
}

namespace kestrelkit::net::ftp::detail {
class ControlChannel;
}

namespace kestrelkit::net::ftp {

/// Told, while `get` moves a file's data, how many bytes have reached the local file so far.
using TransferObserver = std::function<void(std::uint64_t received)>;

/// Takes the records of a listing one at a time (see `FtpLib::listEach`).
using FtpListSink = std::function<void(FtpFileInfo&& record)>;

/// One FTP control connection over ftplib. Every operation returns a success flag (or a text),
/// never throws and never prints; the reason of a failure is left in `lastResponse`. Every
/// operation except `isWindows` holds the object's re-entrant lock for its whole duration.
/// Paths and names are raw bytes in the server's code page.
///
/// Without a connection every operation fails (false or an empty text) without reaching the
/// library. Text arguments that the library would put on the control connection are refused
/// (false, nothing sent) when they hold a NUL, CR or LF byte, which would cut the command short
/// or start another one; over-long arguments fail the same way (the library's own limits).
class FtpLib {
 public:
  FtpLib();
  virtual ~FtpLib();
  FtpLib(const FtpLib&) = delete;
  FtpLib& operator=(const FtpLib&) = delete;

  /// Opens the control connection to host:port; true when the greeting was a 2xx reply.
  virtual bool connect(const std::string& host, std::int32_t port);
  /// Logs in; on success asks the server's system type anew into `systemType`.
  virtual bool login(const std::string& user, const std::string& password);
  virtual bool setActiveMode();
  virtual bool setPassiveMode();
  virtual bool put(const std::string& localPath, const std::string& remotePath, char mode);
  /// Retrieves `remotePath` into the local file `localPath`. True only when the server's final
  /// reply to the transfer is a completion (2xx): an aborted transfer (426, 451, ...) or a control
  /// connection lost before that reply gives false, whatever reached the local file. The data
  /// moves through one buffer of the object's, whatever the file's size; in mode 'A' every CR LF
  /// becomes LF. A local file that cannot be opened or written gives false with the system's
  /// message as the last response.
  virtual bool get(const std::string& localPath, const std::string& remotePath, char mode);
  virtual bool remoteSize(const std::string& path, std::int32_t& size, char mode);
  virtual bool remoteModDate(const std::string& path, std::string& out);
  virtual bool mkdir(const std::string& path);
  virtual bool getSystemType(std::string& out);
  virtual bool isWindows() const;
  virtual bool chdir(const std::string& path);
  virtual bool cdup();
  virtual bool deleteFile(const std::string& path);
  virtual bool rmdir(const std::string& path);
  virtual bool pwd(std::string& out);
  /// The current remote folder, or the empty text when "PWD" fails.
  virtual std::string pwd();
  virtual bool nlstToFile(const std::string& localPath, const std::string& remotePath);
  virtual bool listToFile(const std::string& localPath, const std::string& remotePath);
  /// Reads the LIST reply of `path` into `out`, in server order; rejected lines are dropped.
  /// False (with `out` empty) when the listing could not be started.
  virtual bool list(const std::string& path, std::vector<FtpFileInfo>& out);
  /// Hands the records of the LIST reply of `path` to `take` one by one as they arrive, in
  /// server order, so that a huge folder is never held twice. False when the listing failed:
  /// the records handed over so far, if any, are then void and the caller drops them.
  virtual bool listEach(const std::string& path, const FtpListSink& take);
  virtual bool rename(const std::string& from, const std::string& to);
  /// The server's last reply line with its line end; empty without a connection.
  virtual std::string lastResponse();
  /// Sends one command line on the control connection and reads its whole reply, which
  /// `lastResponse` then returns; true when the reply code starts with `expected`.
  virtual bool sendCommand(const std::string& command, char expected);
  virtual bool sendCommand(const char* command, char expected);
  /// Sends "OPTS UTF8 ON"; true on a 2xx reply.
  virtual bool utf8On();
  /// Sends "QUIT" and ends the connection; nothing without one.
  virtual void quit();
  /// Ends the connection without a word to the server; nothing without one.
  virtual void close();

  /// One listing line to one record (default record when the line is rejected).
  FtpFileInfo toFileInfo(std::string_view line);

  /// First word of the SYST reply, stored after each successful login; empty when unknown.
  const std::string& systemType() const { return systemType_; }

  /// Called during every later `get` after each piece of data written; none when empty.
  void setTransferObserver(TransferObserver observer);

 protected:
  std::recursive_mutex lock_;
  NetBuf* handle_ = nullptr;
  std::string systemType_;
  TransferObserver observer_;

 private:
  bool getPassive(detail::ControlChannel& channel, platform::OutputFile& file,
                  const std::string& localPath, const std::string& remotePath, char mode);
  char* transferBuffer();
  /// A listing (`type` FTPLIB_DIR or FTPLIB_DIR_VERBOSE) of `path` into a new local file, read
  /// like a text-mode retrieval: ftplib's own line reader overruns its buffer on long lines.
  bool receiveToFile(const std::string& localPath, const std::string& path, int type);
  /// Opens the transfer of `path` through ftplib and moves its data into `file`.
  bool receiveThroughLibrary(platform::OutputFile& file, const std::string& localPath,
                             const std::string& path, int type, char mode);

  /// The data buffer of `get`, made at the first transfer and kept for the next ones.
  std::unique_ptr<char[]> transferBuffer_;
  /// One LIST of `path` as given.
  bool listPath(const std::string& path, const FtpListSink& take);
};

}  // namespace kestrelkit::net::ftp
