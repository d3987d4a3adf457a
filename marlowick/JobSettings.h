#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/JobRecord.h"
#include "platform/Deadline.h"

namespace marlowick {

/// What one download job is asked to do: a plain value, copied to every connection of the job.
/// Switched-off limits hold their sentinel values.
struct JobSettings {
  static constexpr std::uint32_t kUtf8 = 65001;
  static constexpr int kMostConnections = 16;
  static constexpr std::int64_t kDefaultTimeout = 60;
  static constexpr int kDefaultRetries = 3;
  static constexpr int kMostRetries = 1000;

  bool justPrint = false;
  std::string username;
  std::string password;
  std::string host;
  std::int32_t port = 21;
  std::string remote;
  std::string local;
  bool passive = true;
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
  /// Seconds any network wait may last (connect, a reply, a stretch of a transfer without a
  /// byte); 0 waits without limit.
  std::int64_t timeout = kDefaultTimeout;
  /// Further tries of a file, a listing or a connection after a failure that another try may
  /// mend (a lost or silent connection, the server's "try again" replies); 0 tries once.
  int retries = kDefaultRetries;
  /// The pause before the first further try; each next one doubles, up to `kLongestPause`.
  std::chrono::milliseconds firstPause{1000};
  static constexpr std::chrono::milliseconds kLongestPause{30000};
  /// Seconds the whole job may last; 0 for no end. When they are up, waits end, a transfer in
  /// flight stops (its part file kept), no further file, folder or try is started.
  std::int64_t deadline = 0;
  /// The moment `deadline` names, set when the job starts; every connection's waits end there.
  platform::Deadline stopAt = platform::Deadline::never();
  /// Continue a part file that an earlier, interrupted run left, instead of starting afresh.
  bool resume = false;
  /// TLS on every connection: none, asked for after the greeting, or from the first byte.
  kestrelkit::net::ftp::FtpSecurity secure = kestrelkit::net::ftp::FtpSecurity::none;
  /// Check the server's certificate (chain and name); false accepts any.
  bool verify = true;
  /// A PEM file of further trust anchors; empty for none.
  std::string cafile;
  /// Character set of code page 0 (`encoding` before the server accepts UTF-8). Empty: the
  /// locale's, which the job fills in when it starts.
  std::string systemCodePage;
  /// End the process with a status that tells how the request went (see `RequestStatus`),
  /// instead of 0 after any run.
  bool exitCodes = false;
  /// A file that receives one JSON line about the request when it ends; empty for none.
  std::string report;
  /// The console shows only Error lines while the request runs; the log is unchanged.
  bool quiet = false;
  /// List folders with MLSD where the server offers it (LIST otherwise).
  bool mlsd = true;
  /// Give each saved file the modification time its listing shows.
  bool keeptime = false;
  /// Fetch a file only when it is missing here, of another size, or listed as later than the
  /// local file; implies `keeptime`.
  bool newer = false;
  /// The outcomes of the job, shared by every copy of these settings (one per connection).
  std::shared_ptr<JobRecord> record = std::make_shared<JobRecord>();

  /// `text` as the server expects it (converted to code page `encoding` unless UTF-8).
  std::string toServer(const std::string& text) const;
  /// Bytes from the server as UTF-8 text.
  std::string fromServer(const std::string& bytes) const;
  /// The character set that `toServer` and `fromServer` convert with.
  std::string serverCharset() const;
  /// The connection's last reply line as text, without its line end, control bytes escaped.
  std::string replyText(kestrelkit::net::ftp::FtpLib& ftp) const;
  /// Why the connection's last operation failed, for a message: the server's refusal as text,
  /// or what happened ("connection lost", "no data for 60 s", a local reason), control bytes
  /// escaped.
  std::string failureText(kestrelkit::net::ftp::FtpLib& ftp) const;
  /// Gives `ftp` the job's time limit, its end and its security before it connects.
  void prepare(kestrelkit::net::ftp::FtpLib& ftp) const;
  /// True when the job's end has come; the record then has the job stopped by it. Asked where
  /// the end would stop something.
  bool deadlinePassed() const;
};

/// The connection's last reply without its line end: a message is one line.
std::string lastReplyLine(kestrelkit::net::ftp::FtpLib& ftp);

}  // namespace marlowick
