#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "kestrelkit/net/ftp/FtpReply.h"
#include "kestrelkit/net/ftp/TlsStream.h"
#include "platform/Deadline.h"
#include "platform/Outcome.h"

namespace platform {
class OutputFile;
}

namespace kestrelkit::net::ftp {
class ControlConnection;
class DataConnection;
}

namespace kestrelkit::net::ftp {

/// Told, while `get` moves a file's data, how many bytes have reached the local file so far.
using TransferObserver = std::function<void(std::uint64_t received)>;

/// How a connection is protected: not at all, TLS asked for after the greeting ("AUTH TLS"), or
/// TLS from the first byte (the server's port then speaks nothing else).
enum class FtpSecurity { none, explicitTls, implicitTls };

/// Takes the records of a listing one at a time (see `FtpLib::listEach`).
using FtpListSink = std::function<void(FtpFileInfo&& record)>;

/// One FTP control connection, spoken by the program itself over the platform's sockets (IPv4
/// and IPv6). Every operation returns a success flag (or a text), never throws and never
/// prints; `lastOutcome` tells what happened (done, refused by the server with its code,
/// connection lost, timed out, local failure) and `lastResponse` holds the server's last reply
/// line. Every operation except `isWindows` holds the object's re-entrant lock for its whole
/// duration. Paths and names are raw bytes in the server's code page.
///
/// Every wait is bounded by the time limit (`setTimeout`): connecting, each reply, the data
/// connection's connect or accept, and each stretch of a transfer in which no byte moves. An
/// operation that runs out of time, or finds the connection lost, fails and leaves the object
/// unconnected, as the session is out of step with the server from then on.
///
/// Without a connection every operation fails (false or an empty text) without sending
/// anything. Text arguments that would go on the control connection are refused (false,
/// nothing sent) when they hold a NUL, CR or LF byte, which would cut the command short or
/// start another one.
class FtpLib {
 public:
  FtpLib();
  virtual ~FtpLib();
  FtpLib(const FtpLib&) = delete;
  FtpLib& operator=(const FtpLib&) = delete;

  /// Opens the control connection to host:port, trying every address the name has (IPv6 and
  /// IPv4; an IPv6 address may stand in brackets, "[::1]"); true when the greeting was a 2xx reply. A failure leaves an earlier connection as it
  /// was; its reason is in `lastOutcome` (name not resolved, refused, timed out, or the
  /// server's refusing greeting).
  virtual bool connect(const std::string& host, std::int32_t port);
  /// Logs in; on success asks the server's system type anew into `systemType`.
  virtual bool login(const std::string& user, const std::string& password);
  /// Later data connections are taken from the server: PORT (EPRT over IPv6), accepting only a
  /// connection from the server's address within 30 s (or the time limit, when shorter).
  virtual bool setActiveMode();
  /// Later data connections go to the server's address, with the port a PASV reply (EPSV over
  /// IPv6, or when PASV is refused) names; an address in the reply is never used.
  virtual bool setPassiveMode();
  virtual bool put(const std::string& localPath, const std::string& remotePath, char mode);
  /// Retrieves `remotePath` into the local file `localPath`. True only when the data ended in
  /// order and the server's final reply is a completion (2xx): an aborted transfer (426, 451,
  /// ...), a broken or silent data connection, or a control connection lost before that reply
  /// gives false, whatever reached the local file. The data moves through one buffer of the
  /// object's, whatever the file's size; in mode 'A' every CR LF becomes LF. A local file that
  /// cannot be opened or written gives false with the system's message as the last response.
  virtual bool get(const std::string& localPath, const std::string& remotePath, char mode);
  /// `get` that continues from byte `offset` of the remote file ("REST offset" before "RETR"),
  /// keeping the first `offset` bytes of the local file and writing on after them. A server that
  /// refuses REST sends the whole file instead: the local file is then emptied and `offset` set
  /// to 0, so that the file ends whole either way; so does one that takes REST and then refuses
  /// the RETR, which is asked once more without it. The local file stays in every case: it is
  /// the caller's.
  virtual bool getFrom(const std::string& localPath, const std::string& remotePath, char mode,
                       std::uint64_t& offset);
  /// `getFrom` into `file`, which the caller opened and keeps open: the data goes to that very
  /// file, whatever stands at its path meanwhile.
  virtual bool getInto(platform::OutputFile& file, const std::string& remotePath, char mode,
                       std::uint64_t& offset);
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
  /// Reads the LIST (or MLSD, see `setMlsdAllowed`) reply of `path` into `out`, in server
  /// order; rejected lines are dropped.
  /// False (with `out` empty) when the listing failed: not started, cut short (a broken data
  /// connection) or not completed (a final reply other than 2xx).
  virtual bool list(const std::string& path, std::vector<FtpFileInfo>& out);
  /// Hands the records of the LIST (or MLSD) reply of `path` to `take` one by one as they arrive,
  /// in server order, so that a huge folder is never held twice. False when the listing failed: the
  /// records handed over so far, if any, are then void and the caller drops them.
  virtual bool listEach(const std::string& path, const FtpListSink& take);
  virtual bool rename(const std::string& from, const std::string& to);
  /// The server's last reply line with its line end, or the text of a local failure; empty
  /// before the first connection and after `close` or `quit`.
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
  /// One MLSD line to one record (default record when the grammar rejects the line). An entry
  /// without a "type" fact, or of a type other than file and dir, is of unknown type.
  static FtpFileInfo toMlsdFileInfo(std::string_view line);

  /// Told once when the server refused MLSD and listings go by LIST from then on; gets the
  /// server's refusal.
  using ListingNotice = std::function<void(const std::string& refusal)>;
  /// With `allowed`, every later login asks the server's features ("FEAT"), and folders are
  /// listed with MLSD where the server offers MLST. Once the server refuses an MLSD (500, 502,
  /// 504) they are listed with LIST for the rest of the object's life, and `notice` is told.
  void setMlsdAllowed(bool allowed, ListingNotice notice = nullptr);
  /// True when the next listing goes by MLSD.
  bool listsByMlsd();

  /// First word of the SYST reply, stored after each successful login; empty when unknown.
  const std::string& systemType() const { return systemType_; }

  /// Called during every later `get` after each piece of data written; none when empty.
  void setTransferObserver(TransferObserver observer);

  /// What the last operation came to, beside `lastResponse`.
  platform::Outcome lastOutcome();
  /// Bounds every later wait (see the class); zero waits without limit. Default 60 s.
  void setTimeout(std::chrono::milliseconds limit);
  /// From the next wait on, no wait lasts past `end`, whatever its own time limit: one that
  /// reaches it fails as timed out, "deadline reached". Default: no end.
  void setStopAt(platform::Deadline end);
  /// True while the control connection is open.
  bool connected();
  /// With `on`, a listing whose last line lacks its line end fails as cut short ("listing cut
  /// short", a lost connection), unless the listing of the same path before it was the very
  /// same bytes (a server's own way of ending): for a caller that lists again after such
  /// failures.
  void setListingEndsChecked(bool on) { checkListingEnds_ = on; }
  /// Listing lines longer than this are left out whole: a piece of one is no entry.
  static constexpr std::size_t kLongestListLine = 8191;
  /// How many lines the last listing left out as longer than `kLongestListLine`.
  virtual std::size_t overlongLines() { return overlongLines_; }
  /// From the next `connect` on: TLS on the control connection, checked as `settings` say (its
  /// `host` is taken from `connect`), and from the login on every data connection too ("PBSZ
  /// 0", "PROT P"). A server that refuses TLS fails `connect`, so nothing, the password least of
  /// all, crosses the network in clear.
  void setSecurity(FtpSecurity security, TlsSettings settings);
  /// With `false`, no later transfer asks for a restart point ("REST"): for a server that
  /// answered one with "350" and then sent the file from its start anyway.
  void setRestartsAllowed(bool allowed);

 protected:
  std::recursive_mutex lock_;
  std::string systemType_;
  TransferObserver observer_;

 private:
  /// Takes the data of a transfer piece by piece; `data` has one writable byte before it.
  using DataSink = std::function<platform::Outcome(char* data, std::size_t length)>;

  /// Records `outcome` as the operation's; true when it is `done`.
  bool finish(platform::Outcome outcome);
  /// Sends `line` and reads the reply into `reply`; `refused` unless its code starts with
  /// `expected`.
  platform::Outcome exchange(const std::string& line, char expected, FtpReply& reply);
  platform::Outcome exchange(const std::string& line, char expected);
  /// Puts the server in transfer type `type` unless it is known to be there already.
  platform::Outcome ensureType(char type);
  struct Transfer;
  /// Opens the transfer's data connection in the session's mode, sends its command (after
  /// "REST" when it asks for a restart) and waits for the server to start the transfer.
  platform::Outcome startTransfer(Transfer& transfer);
  platform::Outcome openPassive(Transfer& transfer);
  platform::Outcome openActive(Transfer& transfer);
  /// Sends "TYPE" and the transfer's command together over its made data connection, then
  /// waits for the start as `awaitStart` does; a refused type is the outcome, with the session
  /// kept in step.
  platform::Outcome sendTypedCommand(Transfer& transfer);
  /// Reads the reply to the transfer's command: the start, or the refusal; `made` is how its
  /// data connection went.
  platform::Outcome awaitStart(Transfer& transfer, const platform::Outcome& made);
  platform::Outcome connectData(Transfer& transfer, std::uint16_t port);
  /// "PASV", or "EPSV" over IPv6 and once a server refused PASV in step.
  std::string passiveCommand();
  /// Asks for a passive port in step ("PASV", then "EPSV" if PASV is refused).
  platform::Outcome askPassive(std::optional<std::uint16_t>& port);
  /// Sends the next transfer's passive request while this one ends, when the session allows.
  void sendPassiveAhead();
  /// Reads the answer to the passive request sent ahead: `port` when it fits; none, with the
  /// look-ahead off from then on, when the server refused it; a lost session when the reply
  /// answers something else.
  platform::Outcome takePassiveAhead(std::optional<std::uint16_t>& port);
  /// Brings a passive request sent ahead to its end before any other command goes out.
  platform::Outcome settleAhead();
  /// "REST" with the transfer's restart point when it has one; a refusal clears the point (the
  /// transfer then starts from the beginning) and is no failure.
  platform::Outcome sendRestart(Transfer& transfer);
  /// The refusal of a transfer the server did not start with a preliminary reply.
  platform::Outcome notStarted(const FtpReply& reply);
  /// Closes the data connection and reads the final reply; `moved` is how the data went.
  platform::Outcome endTransfer(DataConnection& data, platform::Outcome moved);
  /// The whole of a transfer from the server: `take` gets every piece of data.
  platform::Outcome receive(Transfer& transfer, const DataSink& take);
  /// The same for `command` in `type`; `started` tells whether the server began it.
  platform::Outcome receive(const std::string& command, char type, const DataSink& take,
                            bool& started);
  /// A transfer of `command`'s data into the local file `localPath`.
  bool receiveToFile(const std::string& localPath, const std::string& command, char mode,
                     bool removeUnstarted, std::uint64_t* offset = nullptr);
  /// The same into the open `file`, written on after the first `*offset` bytes (none without
  /// `offset`); `started` tells whether the server began the transfer.
  platform::Outcome receiveInto(platform::OutputFile& file, const std::string& command, char mode,
                                std::uint64_t* offset, bool& started);
  /// One LIST (or MLSD) of `path` as given.
  bool listPath(const std::string& path, const FtpListSink& take);
  /// "FEAT": whether the server offers MLST.
  void askFeatures();
  char* transferBuffer();

  /// Asks for TLS on a fresh connection ("AUTH TLS") and makes its stream secure.
  platform::Outcome startTls(ControlConnection& control, TlsSession& tls);
  /// "PBSZ 0" and "PROT P" after a login, so that data connections are secure too.
  platform::Outcome protectData();

  std::unique_ptr<ControlConnection> control_;
  FtpSecurity security_ = FtpSecurity::none;
  TlsSettings tlsSettings_;
  /// The secure layer of the open connection; none for a plain one.
  std::unique_ptr<TlsSession> tls_;
  std::chrono::milliseconds timeout_{60000};
  platform::Deadline stopAt_ = platform::Deadline::never();
  platform::Outcome outcome_;
  bool passive_ = true;
  bool pasvRefused_ = false;
  /// The passive request sent ahead of the next transfer and not yet answered.
  enum class PassiveRequest { none, pasv, epsv };
  PassiveRequest ahead_ = PassiveRequest::none;
  /// Off once a passive request sent ahead drew a reply that did not fit it: that server is
  /// asked in step from then on, on this connection and every later one of the object.
  bool lookAhead_ = true;
  /// Off once the caller found that the server ignores restart points.
  bool restartsAllowed_ = true;
  /// The transfer type the server is in: 'A', 'I', or 0 when not known.
  char type_ = 0;
  bool checkListingEnds_ = false;
  /// The last listing, when it ended inside a line: its path, and a digest and the length of
  /// its bytes.
  struct ListingEnd {
    std::string path;
    std::uint64_t digest = 0;
    std::uint64_t length = 0;
    bool operator==(const ListingEnd&) const = default;
  };
  std::optional<ListingEnd> unterminated_;
  std::size_t overlongLines_ = 0;
  bool mlsdAllowed_ = false;
  bool mlstOffered_ = false;
  bool mlsdRefused_ = false;
  ListingNotice listingNotice_;
  /// The data buffer of transfers, made at the first and kept for the next ones.
  std::unique_ptr<char[]> transferBuffer_;
};

}  // namespace kestrelkit::net::ftp
