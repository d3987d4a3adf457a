#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"

namespace testing_support {

/// How one transfer (LIST, NLST or RETR of a path) goes on the data connection.
struct FakeTransfer {
  std::string data;  // bytes sent on the data connection, exactly as given
  /// Close the data connection after this many bytes, as if the server had dropped it.
  std::optional<std::size_t> dropAfter;
  /// With dropAfter: end the data connection with a reset (the client sees a read error)
  /// instead of an orderly close (the client sees the end of the data).
  bool resetOnDrop = false;
  /// Offsets at which sending pauses for `pause` before going on (or before the drop, for an
  /// offset equal to dropAfter), so that the client's reads end exactly there.
  std::vector<std::size_t> pauseAt;
  std::chrono::milliseconds pause{100};
  /// When set, a pause ends as soon as this holds (asked every few milliseconds), at the latest
  /// after `pause`: a test can hold a transfer until the client has done something else.
  std::function<bool()> resumeWhen;
  /// The reply after the data; the empty text sends none.
  std::string finalReply = "226 Transfer complete.";
  /// After the data (and the final reply, if any), close the control connection.
  bool dropControl = false;
  /// Close the control connection on the command itself, with no reply and no data connection:
  /// the link broke, or the server went down, between two files.
  bool dropControlAtStart = false;
  /// Answer the command with this reply instead of starting the transfer ("554 ...").
  std::string refusal;
  /// With `refusal`: close the control connection after it, as a server does
  /// after "421".
  bool closeAfterReply = false;
  /// Answer 150 but never make or take the data connection; the control connection is then
  /// closed after `holdControl` without a further reply.
  bool noDataConnection = false;
  std::chrono::milliseconds holdControl{0};
};

/// A scripted FTP server on 127.0.0.1 (or ::1) for tests, in the spirit of curl's test server:
/// not a real server, but one that records the exact command lines it receives and answers from
/// a script. The port is picked by the system at construction; every client connection is served
/// on a thread of its own; all waits are bounded; the destructor stops everything.
///
/// Defaults: greeting "220 fake ready"; USER 331, PASS 230, SYST "215 UNIX Type: L8", TYPE 200,
/// PASV (227 naming a fresh listener on 127.0.0.1), EPSV (229 naming the port of a fresh
/// listener on the server's own address), PORT and EPRT 200 (the server then connects to the
/// address given, "EPRT |1|127.0.0.1|port|" or "EPRT |2|::1|port|"; 522 for another protocol
/// number, 501 for text it cannot read), CWD/CDUP/DELE/RMD/RNTO 250, MKD 257,
/// RNFR 350, PWD "257 \"/\" is the current directory", OPTS 200, NOOP 200, MDTM
/// "213 20260101000000", SIZE of a scripted file, QUIT 221 (then closes); LIST/NLST/RETR of a
/// scripted path send it with 150 ... 226, of any other path "550 No such file or directory."
/// REST n (decimal, 64 bits) 350, "501 Bad restart point." for anything else: the next RETR of
/// the session then sends the data from offset n; any transfer command (RETR, LIST, NLST, STOR)
/// forgets the restart point, and a scripted reply to REST sets none. STOR stores what arrives
/// (see stored()). Any other command: "502 Command not implemented.".
class FakeFtpServer {
 public:
  /// Listens on the loopback address of `family`: 4 for 127.0.0.1, 6 for ::1. Throws
  /// std::runtime_error when it cannot.
  explicit FakeFtpServer(int family = 4);
  ~FakeFtpServer();
  FakeFtpServer(const FakeFtpServer&) = delete;
  FakeFtpServer& operator=(const FakeFtpServer&) = delete;

  int port() const { return port_; }
  /// The address listened on: "127.0.0.1" or "::1".
  const char* host() const { return family_ == 6 ? "::1" : "127.0.0.1"; }

  /// Every command line received so far, in order of arrival, without its line end.
  std::vector<std::string> commands() const;
  /// The received command lines whose first word is `verb`.
  std::vector<std::string> commandsWithVerb(const std::string& verb) const;
  /// Waits until at least `count` command lines arrived; false when the time is up.
  bool waitForCommands(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  /// The command lines received on the `number`-th control connection accepted (from 1).
  std::vector<std::string> commandsOfConnection(int number) const;
  /// How many received command lines equal `line` exactly (e.g. "RETR a.txt").
  std::size_t commandCount(const std::string& line) const;
  /// Number of control connections accepted / ended by either side so far (refused ones too).
  int connectionsAccepted() const;
  int connectionsClosed() const;
  /// Waits until `count` control connections have ended; false when the time is up.
  bool waitForClosedConnections(int count,
                                std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  /// The greeting sent on every new control connection (one or more lines separated by "\n").
  void setGreeting(std::string reply);
  /// Every new control connection gets `line` again and again, every `every`, for up to 10 s
  /// and nothing else: a server that keeps saying "120 wait" and never greets.
  void setGreetingRepeated(std::string line, std::chrono::milliseconds every);
  /// The next `count` control connections, after `after` more served as usual, get `greeting`
  /// instead and are closed right after it, before any command is read: a server that is
  /// restarting, or one that allows a client only so many connections.
  void refuseSessions(
      int count, std::string greeting = "421 Service not available, closing control connection.",
      int after = 0);
  /// Replaces the reply to a command. `command` is either a whole command line (e.g.
  /// "OPTS UTF8 ON"), which wins, or a verb (e.g. "SYST"). The reply may have several lines
  /// separated by "\n"; each is sent with CR LF. For LIST, NLST and RETR the reply replaces the
  /// whole transfer (no data connection is used), e.g. "550 Permission denied.".
  void setReply(const std::string& command, std::string reply);
  /// Answers only the (`after` + 1)-th `command` (whole line or verb) with `reply`, over all
  /// sessions; an empty reply closes the control connection without a word.
  void setReplyOnce(const std::string& command, std::string reply, int after = 0);
  /// The `number`-th control connection accepted (from 1) is closed without a word on its first
  /// command with verb `verb`: one connection among several breaks.
  void dropConnectionOn(int number, std::string verb);
  /// After answering `command` (whole line or verb), close the control connection.
  void closeAfter(const std::string& command);
  /// Never answer `command` (whole line or verb; "greeting" for the greeting), reading on as
  /// if it had been answered: a server that leaves the client waiting.
  void setSilent(const std::string& command);
  /// What LIST (and NLST) of `path` sends; the path is the text after "LIST " ("" for a bare
  /// "LIST"). Like some real servers, it answers 500 to any command line with a trailing blank.
  void setListing(const std::string& path, std::string data);
  void setListing(const std::string& path, FakeTransfer transfer);
  /// What MLSD of `path` sends. Until the first of these, MLSD is answered "502" like any
  /// command the server does not know.
  void setMlsdListing(const std::string& path, std::string data);
  /// What RETR of `path` sends, every time; a restart point (REST) starts the data later, while
  /// dropAfter and pauseAt stay offsets into the whole of `data`.
  void setFile(const std::string& path, std::string data);
  void setFile(const std::string& path, FakeTransfer transfer);
  /// What each RETR of `path` sends: the k-th from this call on, over all sessions, goes as
  /// tries[k], and the last one repeats once they run out. No tries: RETR and SIZE answer 550.
  /// SIZE tells the size of the data the next RETR would send.
  void setFileTries(const std::string& path, std::vector<FakeTransfer> tries);
  /// What STOR of `path` received, if it was sent.
  std::optional<std::string> stored(const std::string& path) const;

 private:
  struct Session;
  void acceptLoop();
  /// Serves one control connection; with `refusal`, only sends it and hangs up.
  void serve(platform::Socket control, std::optional<std::string> refusal, int number);
  bool handleCommand(Session& session, const std::string& line);
  bool transfer(Session& session, const std::string& verb, const std::string& path,
                std::uint64_t restartAt);
  /// The script the next RETR of `path` uses, counting that RETR when `take` says so.
  std::optional<FakeTransfer> fileScript(const std::string& path, bool take);
  bool store(Session& session, const std::string& path);
  platform::Socket openDataConnection(Session& session);
  bool offersMlsd() const;
  bool stopping() const;
  std::optional<std::string> scriptedReply(const std::string& line, const std::string& verb) const;
  bool shouldCloseAfter(const std::string& line, const std::string& verb) const;
  bool isSilent(const std::string& line, const std::string& verb) const;

  int family_ = 4;
  platform::Listener listener_;
  int port_ = 0;
  std::thread acceptThread_;
  std::vector<std::thread> sessions_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::vector<std::string> commands_;
  /// For each of `commands_`, the number of the connection it came on.
  std::vector<int> commandConnections_;
  std::map<int, std::string> dropOn_;
  int accepted_ = 0;
  int closed_ = 0;
  std::string greeting_ = "220 fake ready";
  std::chrono::milliseconds greetingEvery_{0};
  std::map<std::string, std::string> replies_;
  struct ReplyOnce {
    int after;
    std::string reply;
  };
  std::map<std::string, ReplyOnce> repliesOnce_;
  /// The reply set for this occurrence of the command, if any (counting it).
  std::optional<std::string> replyOnce(const std::string& line, const std::string& verb);
  std::vector<std::string> closeAfter_;
  std::vector<std::string> silent_;
  std::map<std::string, FakeTransfer> listings_;
  std::map<std::string, FakeTransfer> mlsdListings_;
  /// The tries of each file, and how many RETRs of it used them since they were set.
  std::map<std::string, std::vector<FakeTransfer>> files_;
  std::map<std::string, std::size_t> retrievals_;
  int refusalsLeft_ = 0;
  int servedBeforeRefusals_ = 0;
  std::string refusalGreeting_;
  std::map<std::string, std::string> stored_;
};

}  // namespace testing_support
