// FtpLib's transfers: the data connection (passive or active), the transfer command, the data
// and the final reply, one routine for retrievals and listings alike.
#include <cstdio>
#include <memory>
#include <optional>

#include "kestrelkit/net/ftp/ControlConnection.h"
#include "kestrelkit/net/ftp/DataConnection.h"
#include "kestrelkit/net/ftp/FtpDataAddress.h"
#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpLibChecks.h"
#include "platform/Files.h"

namespace kestrelkit::net::ftp {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;
using platform::Deadline;
using platform::Outcome;
using platform::OutcomeKind;

constexpr std::size_t kTransferBufferSize = std::size_t{1} << 20;
/// How long a server in active mode has to connect, at most.
constexpr std::chrono::milliseconds kActiveWait{30000};
constexpr const char* kNoActiveConnection = "timed out waiting for connection";

/// Turns every CR LF of a text-mode transfer into LF; other bytes, a lone CR included, pass
/// unchanged. A CR that ends one piece is held back until the next byte shows what it is.
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

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

char* FtpLib::transferBuffer() {
  if (!transferBuffer_) {
    transferBuffer_ = std::make_unique_for_overwrite<char[]>(kTransferBufferSize);
  }
  return transferBuffer_.get();
}

void FtpLib::setTransferObserver(TransferObserver observer) {
  Guard guard(lock_);
  observer_ = std::move(observer);
}

Outcome FtpLib::ensureType(char type) {
  if (type_ == type && control_->isOpen()) return Outcome::success();
  Outcome outcome = exchange(std::string("TYPE ") + type, '2');
  type_ = outcome.ok() ? type : 0;
  return outcome;
}

Outcome FtpLib::startTransfer(const std::string& command, char type, DataConnection& data) {
  data.timeout = timeout_;
  Outcome typed = ensureType(type);
  if (!typed.ok()) return typed;
  const Outcome opened = passive_ ? openPassive(command, data) : openActive(command, data);
  if (!opened.ok() || !tls_) return opened;
  const Outcome secured = tls_->secureData(data.stream(), Deadline::within(timeout_));
  if (secured.ok()) return secured;
  // The server's final word on a transfer whose data connection failed keeps the replies in step.
  data.close();
  FtpReply reply;
  control_->readReply(reply);
  return secured;
}

std::string FtpLib::passiveCommand() {
  // IPv6 has no PASV, and a server that refused it once may still know EPSV.
  return control_->peer().family == 4 && !pasvRefused_ ? "PASV" : "EPSV";
}

Outcome FtpLib::openPassive(const std::string& command, DataConnection& data) {
  platform::NetAddress server = control_->peer();
  FtpReply reply;
  std::optional<std::uint16_t> port;
  if (passiveCommand() == "PASV") {
    // The request may have gone out at the end of the last transfer already.
    Outcome asked = control_->ahead() == "PASV" ? control_->takeAhead(reply)
                                                : control_->command("PASV", reply);
    if (asked.ok() && reply.kind() != '2') asked = Outcome::refusal(reply.code, reply.line);
    if (asked.ok()) {
      port = passivePort(reply.line);
      if (!port) return Outcome::refusal(reply.code, reply.line);
    } else if (reply.kind() != '5' || !control_->isOpen()) {
      return asked;
    } else {
      pasvRefused_ = true;
    }
  }
  // IPv6 has no PASV, and a server that refuses it may still know EPSV.
  if (!port) {
    Outcome asked = control_->ahead() == "EPSV" ? control_->takeAhead(reply)
                                                : control_->command("EPSV", reply);
    if (asked.ok() && reply.kind() != '2') asked = Outcome::refusal(reply.code, reply.line);
    if (!asked.ok()) return asked;
    port = extendedPassivePort(reply.line);
    if (!port) return Outcome::refusal(reply.code, reply.line);
  }
  server.port = *port;
  const Outcome restarted = sendRestart();
  if (!restarted.ok()) return restarted;
  // The command goes out while the data connection is made: one round trip for both.
  const Outcome sent = control_->send(command);
  if (!sent.ok()) return sent;
  const Outcome made = data.connect(server);
  const Outcome read = control_->readReply(reply);
  if (!read.ok()) return read;
  if (reply.kind() != '1') return notStarted(reply);
  // The server started without us: its final reply follows and keeps the session in step. A
  // connection it reset before we saw it made ("426 ...") is told in the server's words.
  if (!made.ok()) return endTransfer(data, made);
  return Outcome::success();
}

Outcome FtpLib::openActive(const std::string& command, DataConnection& data) {
  const Outcome listening = data.listen(control_->local());
  if (!listening.ok()) return listening;
  const platform::NetAddress at = data.listenAddress();
  const std::string port = at.family == 6 ? "EPRT " + extendedPortArgument(at)
                                          : "PORT " + portArgument(at);
  Outcome outcome = exchange(port, '2');
  if (outcome.ok()) outcome = sendRestart();
  if (!outcome.ok()) return outcome;
  FtpReply reply;
  outcome = control_->command(command, reply);
  if (!outcome.ok()) return outcome;
  if (reply.kind() != '1') return notStarted(reply);
  const auto wait = timeout_.count() > 0 && timeout_ < kActiveWait ? timeout_ : kActiveWait;
  if (data.accept(control_->peer(), Deadline::after(wait)).ok()) return Outcome::success();
  // The server may still connect, or answer later: the session is out of step.
  control_->close();
  control_->lastResponse = kNoActiveConnection;
  return Outcome::timeout(kNoActiveConnection);
}

Outcome FtpLib::sendRestart() {
  if (restart_ == 0) return Outcome::success();
  FtpReply reply;
  const Outcome asked = exchange("REST " + std::to_string(restart_), '3', reply);
  if (asked.ok() || asked.kind != OutcomeKind::refused) return asked;
  // Not every server can restart: the whole file comes instead.
  restart_ = 0;
  return Outcome::success();
}

Outcome FtpLib::notStarted(const FtpReply& reply) {
  // A completion or a question where the transfer should start is no answer a session can
  // follow: whether more replies come cannot be known, so it ends here.
  if (reply.kind() != '4' && reply.kind() != '5') control_->close();
  return Outcome::refusal(reply.code, reply.line);
}

Outcome FtpLib::endTransfer(DataConnection& data, Outcome moved) {
  data.close();
  if (moved.kind == OutcomeKind::timedOut) {
    // The server may be stuck in the transfer: nothing it says later can be trusted in order.
    control_->close();
    return moved;
  }
  FtpReply reply;
  const Outcome read = control_->readReply(reply);
  if (!read.ok()) return read;
  // The answer to the passive request sent ahead, where the transfer's own final reply belongs:
  // the server skipped it, and nothing tells whether the data was whole.
  if (reply.code == 227 || reply.code == 229) {
    control_->close();
    return Outcome::lost("no final reply to the transfer");
  }
  if (!moved.ok()) {
    // The server's own word on a broken transfer ("426 ...") says more than ours.
    if (moved.kind == OutcomeKind::connectionLost && reply.kind() != '2') {
      return Outcome::refusal(reply.code, reply.line);
    }
    return moved;
  }
  if (reply.kind() != '2') return Outcome::refusal(reply.code, reply.line);
  return Outcome::success();
}

Outcome FtpLib::receive(const std::string& command, char type, const DataSink& take,
                        bool& started) {
  started = false;
  if (!control_->isOpen()) return Outcome::lost("not connected");
  if (!detail::fitsOnCommandLine(command)) return Outcome::local("a line break or NUL in the command");
  DataConnection data;
  const Outcome opened = startTransfer(command, type, data);
  if (!opened.ok()) return opened;
  started = true;
  // One byte in front stays free for the text-mode filter.
  char* buffer = transferBuffer() + 1;
  Outcome moved = Outcome::success();
  try {
    for (;;) {
      std::size_t got = 0;
      moved = data.readSome(buffer, kTransferBufferSize - 1, got);
      if (!moved.ok() || got == 0) break;
      moved = take(buffer, got);
      if (!moved.ok()) break;
    }
  } catch (...) {
    // The taker gave up: the session is brought back in step before its failure goes on.
    endTransfer(data, Outcome::local("stopped"));
    throw;
  }
  // Servers answer a transfer only once the data connection has closed on both sides, a round
  // trip after the data ended: the next transfer's passive request goes out meanwhile, and its
  // answer is waiting when that transfer starts.
  if (moved.ok() && passive_) control_->sendAhead(passiveCommand());
  return endTransfer(data, std::move(moved));
}

bool FtpLib::get(const std::string& localPath, const std::string& remotePath, char mode) {
  Guard guard(lock_);
  if (!detail::isTransferMode(mode)) return finish(Outcome::local("no such transfer mode"));
  return receiveToFile(localPath, "RETR " + remotePath, mode, true);
}

bool FtpLib::getFrom(const std::string& localPath, const std::string& remotePath, char mode,
                     std::uint64_t& offset) {
  Guard guard(lock_);
  if (!detail::isTransferMode(mode)) return finish(Outcome::local("no such transfer mode"));
  return receiveToFile(localPath, "RETR " + remotePath, mode, true, &offset);
}

bool FtpLib::nlstToFile(const std::string& localPath, const std::string& remotePath) {
  Guard guard(lock_);
  return receiveToFile(localPath, detail::commandLine("NLST", remotePath), 'A', false);
}

bool FtpLib::listToFile(const std::string& localPath, const std::string& remotePath) {
  Guard guard(lock_);
  return receiveToFile(localPath, detail::commandLine("LIST", remotePath), 'A', false);
}

bool FtpLib::receiveToFile(const std::string& localPath, const std::string& command, char mode,
                           bool removeUnstarted, std::uint64_t* offset) {
  if (!control_->isOpen()) return finish(Outcome::lost("not connected"));
  if (!detail::isCString(localPath) || !detail::fitsOnCommandLine(command)) {
    return finish(Outcome::local("a line break or NUL in the command"));
  }
  // The local file first: a local problem costs no round trip.
  const std::uint64_t kept = offset != nullptr ? *offset : 0;
  platform::OutputFile file;
  std::string failure;
  if (!file.open(localPath, &failure, kept)) {
    control_->lastResponse = failure;
    return finish(Outcome::local(failure));
  }
  // A server that refused to restart sends the whole file: what was kept goes.
  bool fromStart = kept == 0;
  auto startOver = [&] {
    if (fromStart || restart_ != 0) return true;
    fromStart = true;
    *offset = 0;
    return file.open(localPath, &failure);
  };
  LineEndFilter filter;
  const bool text = mode == 'A';
  std::uint64_t written = kept;
  auto store = [&](char* data, std::size_t length) {
    if (!startOver()) return Outcome::local(failure);
    char* from = text ? data - 1 : data;
    const std::size_t count = text ? filter.convert(from, length) : length;
    if (!file.write(from, count, &failure)) return Outcome::local(failure);
    written += count;
    if (observer_) observer_(written);
    return Outcome::success();
  };
  bool started = false;
  restart_ = kept;
  Outcome outcome = receive(command, mode, store, started);
  if (started && outcome.ok() && !startOver()) outcome = Outcome::local(failure);
  restart_ = 0;
  if (outcome.ok() && filter.holdsCr() && !file.write("\r", 1, &failure)) {
    outcome = Outcome::local(failure);
  }
  if (!file.close(&failure) && outcome.ok()) outcome = Outcome::local(failure);
  // Nothing was received: a retrieval's empty file goes again (what an earlier one kept stays).
  if (!started && removeUnstarted && kept == 0) platform::deleteFile(localPath);
  if (outcome.kind == OutcomeKind::localFailure) control_->lastResponse = outcome.reason;
  return finish(std::move(outcome));
}

bool FtpLib::put(const std::string& localPath, const std::string& remotePath, char mode) {
  Guard guard(lock_);
  if (!control_->isOpen()) return finish(Outcome::lost("not connected"));
  if (!detail::isTransferMode(mode) || !detail::isCString(localPath)) {
    return finish(Outcome::local("no such transfer mode"));
  }
  std::unique_ptr<std::FILE, FileCloser> file(platform::openFile(localPath, "rb"));
  if (!file) {
    control_->lastResponse = platform::lastErrorText();
    return finish(Outcome::local(control_->lastResponse));
  }
  if (!detail::fitsOnCommandLine(remotePath)) {
    return finish(Outcome::local("a line break or NUL in the command"));
  }
  DataConnection data;
  const Outcome opened = startTransfer("STOR " + remotePath, mode, data);
  if (!opened.ok()) return finish(opened);
  char* buffer = transferBuffer();
  std::string lines;
  Outcome moved = Outcome::success();
  while (moved.ok()) {
    const std::size_t got = std::fread(buffer, 1, kTransferBufferSize, file.get());
    if (got == 0) break;
    if (mode == 'A') {
      // Text goes over the wire with CR LF line ends.
      lines.clear();
      for (std::size_t i = 0; i < got; ++i) {
        if (buffer[i] == '\n') lines += '\r';
        lines += buffer[i];
      }
      moved = data.writeAll(lines.data(), lines.size());
    } else {
      moved = data.writeAll(buffer, got);
    }
  }
  if (moved.ok() && std::ferror(file.get())) moved = Outcome::local(platform::lastErrorText());
  if (moved.ok()) data.finish();
  return finish(endTransfer(data, std::move(moved)));
}

}  // namespace kestrelkit::net::ftp
