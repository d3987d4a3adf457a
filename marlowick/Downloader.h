#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/LocalName.h"

namespace kestrelkit::net::ftp {
class FtpLib;
}

namespace marlowick {

class FileReport;
class TransferCrew;

/// The settings and state of one download job, carried out by one call of `execute`.
/// The owner sets the fields directly; switched-off limits hold their sentinel values.
class Downloader {
 public:
  static constexpr std::uint32_t kUtf8 = 65001;

  virtual ~Downloader() = default;

  /// ASCII transfers; returns true.
  virtual bool setAscii();
  /// Binary transfers; returns true.
  virtual bool setImage();
  /// Scans the remote tree from `startPath` with the job's filters into `files`; true when at
  /// least one file was selected.
  virtual bool scanRemote(const std::string& startPath, kestrelkit::net::ftp::FtpLib& ftp);
  /// The whole job: connect, log in, scan, fetch (or list). True when the transfer loop was
  /// reached and finished. Never throws.
  virtual bool execute();
  /// Makes every folder on the way to the local file `localPath`. Throws std::runtime_error
  /// with the reason when one cannot be made.
  virtual void createFolders(const std::string& localPath);
  /// Prints the settings table to the console; returns true.
  virtual bool printSettings();

  /// `text` as the server expects it (converted to code page `encoding` unless UTF-8).
  std::string toServer(const std::string& text) const;
  /// Bytes from the server as UTF-8 text.
  std::string fromServer(const std::string& bytes) const;
  /// The connection's last reply line as text, without its line end, control bytes escaped.
  std::string replyText(kestrelkit::net::ftp::FtpLib& ftp) const;
  /// Why the connection's last operation failed, for a message: the server's refusal as text,
  /// or what happened ("connection lost", "no data for 60 s", a local reason), control bytes
  /// escaped.
  std::string failureText(kestrelkit::net::ftp::FtpLib& ftp) const;

  bool justPrint = false;
  std::string username;
  std::string password;
  std::string host;
  std::int32_t port = 21;
  std::string remote;
  std::string local;
  bool passive = true;
  kestrelkit::net::ftp::FtpFileList files;
  std::uint32_t savedCount = 0;
  bool recurse = false;
  bool overwrite = true;
  char transferMode = 'I';
  std::uint32_t encoding = 0;
  std::string include;
  std::string exclude;
  std::uint64_t lsize = kestrelkit::net::ftp::kUnknownSize;  // off
  std::uint64_t gsize = kestrelkit::net::ftp::kUnknownSize;  // off
  std::int64_t lmodified = kestrelkit::net::ftp::kOff;
  std::int64_t gmodified = kestrelkit::net::ftp::kOff;
  std::int64_t maxfiles = kestrelkit::net::ftp::kOff;
  std::int64_t maxfolders = kestrelkit::net::ftp::kOff;
  /// Control connections that share the transfers, 1 to `kMostConnections`. Beyond the first,
  /// each is logged in on a thread of its own while the first scans; 1 keeps the whole job on
  /// the caller's thread.
  int connections = 1;
  static constexpr int kMostConnections = 16;
  /// Seconds any network wait may last (connect, a reply, a stretch of a transfer without a
  /// byte); 0 waits without limit.
  std::int64_t timeout = kDefaultTimeout;
  static constexpr std::int64_t kDefaultTimeout = 60;
  /// TLS on every connection: none, asked for after the greeting, or from the first byte.
  kestrelkit::net::ftp::FtpSecurity secure = kestrelkit::net::ftp::FtpSecurity::none;
  /// Check the server's certificate (chain and name); false accepts any.
  bool verify = true;
  /// A PEM file of further trust anchors; empty for none.
  std::string cafile;

  /// Character set of code page 0 (`encoding` before the server accepts UTF-8). Empty: the
  /// locale's, which `execute` fills in here when it starts.
  std::string systemCodePage;

 protected:
  /// Steps 2 to 13 of the job on an open connection object; may throw.
  virtual bool runJob(kestrelkit::net::ftp::FtpLib& ftp);
  /// One selected file: check its name, skip, list or fetch it, and report the outcome.
  virtual void handleFile(kestrelkit::net::ftp::FtpLib& ftp,
                          const kestrelkit::net::ftp::FtpFileInfo& record, std::size_t position,
                          std::size_t count);
  /// Retrieves the file of `record` to `localPath` through a temporary file beside it. False
  /// with the reason in `failure`; the local path is then left as it was. In image mode a file
  /// that arrives shorter than its listed size fails ("received N of M bytes").
  virtual bool fetchFile(kestrelkit::net::ftp::FtpLib& ftp,
                         const kestrelkit::net::ftp::FtpFileInfo& record,
                         const std::string& localPath, std::string& failure);
  /// The character set that `toServer` and `fromServer` convert with.
  std::string serverCharset() const;
  /// Takes `ftp` through the first connection's steps after the first connection is in place:
  /// connect, mode, login, UTF-8 (which must get the first connection's answer), folder change.
  /// Reports nothing; false with the reason in `failure`. May throw, like the job's steps.
  virtual bool openExtraConnection(kestrelkit::net::ftp::FtpLib& ftp, std::string& failure);
  /// Gives `ftp` the job's time limit and security before it connects.
  void prepare(kestrelkit::net::ftp::FtpLib& ftp) const;

 private:
  friend class TransferCrew;

  /// `handleFile` with its messages going to `report` (reported at once when null, `count`
  /// then being the number of files); true when the file was saved. Leaves `savedCount` alone.
  bool handleOneFile(kestrelkit::net::ftp::FtpLib& ftp,
                     const kestrelkit::net::ftp::FtpFileInfo& record, std::size_t position,
                     std::size_t count, FileReport* report);
  /// `scanRemote` that also hands each selected file to `crew` (when there is one) as soon as
  /// it is selected.
  bool scanAndOffer(const std::string& startPath, kestrelkit::net::ftp::FtpLib& ftp,
                    TransferCrew* crew);

  LocalNames localNames_;
};

/// Makes one folder exist, recording it in the process-wide set of folders made or found.
/// Throws std::runtime_error with the folder path and the reason on failure.
void ensureFolder(const std::string& folder);

/// The process-wide record of local folders made or found to exist.
bool folderRecorded(const std::string& folder);

}  // namespace marlowick
