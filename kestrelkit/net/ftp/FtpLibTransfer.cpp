// FtpLib's transfers: the data connection (passive or active), the transfer command, the data
// and the final reply, one routine for retrievals and listings alike.
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

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
const Outcome kLineBreakInCommand = Outcome::local("a line break or NUL in the command");

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

/// One transfer's own state, from its request to its final reply.
struct FtpLib::Transfer {
  std::string command;
  char type = 'I';
  /// The offset asked for with "REST"; 0 for the start, and once the server refused it.
  std::uint64_t restart = 0;
  DataConnection data;
  /// The server began the transfer (a "1xx" reply).
  bool started = false;
};

Outcome FtpLib::ensureType(char type) {
  if (type_ == type && control_->isOpen()) return Outcome::success();
  Outcome outcome = exchange(std::string("TYPE ") + type, '2');
  type_ = outcome.ok() ? type : 0;
  return outcome;
}

Outcome FtpLib::startTransfer(Transfer& transfer) {
  transfer.data.timeout = timeout_;
  transfer.data.stopAt = stopAt_;
  const Outcome opened = passive_ ? openPassive(transfer) : openActive(transfer);
  if (!opened.ok() || !tls_) return opened;
  const Outcome secured =
      tls_->secureData(transfer.data.stream(), Deadline::within(timeout_, stopAt_));
  if (secured.ok()) return secured;
  // The server's final word on a transfer whose data connection failed keeps the replies in step.
  transfer.data.close();
  FtpReply reply;
  control_->readReply(reply);
  return secured;
}

std::string FtpLib::passiveCommand() {
  // IPv6 has no PASV, and a server that refused it once may still know EPSV.
  return control_->peer().family == 4 && !pasvRefused_ ? "PASV" : "EPSV";
}

void FtpLib::sendPassiveAhead() {
  if (!lookAhead_ || !passive_) return;
  const std::string command = passiveCommand();
  if (control_->sendAhead(command).ok()) {
    ahead_ = command == "PASV" ? PassiveRequest::pasv : PassiveRequest::epsv;
  }
}

Outcome FtpLib::takePassiveAhead(std::optional<std::uint16_t>& port) {
  const PassiveRequest sent = std::exchange(ahead_, PassiveRequest::none);
  FtpReply reply;
  const Outcome read = control_->takeAhead(reply);
  if (!read.ok()) return read;
  if (reply.code == (sent == PassiveRequest::pasv ? 227 : 229)) {
    port = sent == PassiveRequest::pasv ? passivePort(reply.line) : extendedPassivePort(reply.line);
    return port ? Outcome::success() : Outcome::refusal(reply.code, reply.text);
  }
  // The server does not take a request while a transfer ends: it is asked in step from now on.
  lookAhead_ = false;
  // A refusal ("425 transfer in progress") answers the request itself: the replies are in step,
  // and the request goes again, in step, before anything is called refused.
  if (reply.kind() == '4' || reply.kind() == '5') return Outcome::success();
  // Any other reply answers some other command: no later reply could be matched to its command.
  control_->close();
  return Outcome::lost("reply out of step: " + reply.text);
}

Outcome FtpLib::settleAhead() {
  if (ahead_ == PassiveRequest::none) return Outcome::success();
  std::optional<std::uint16_t> port;
  const Outcome taken = takePassiveAhead(port);
  if (!taken.ok() || !port) return taken;
  // Some servers answer nothing more until the data connection they were asked for is made;
  // made and closed at once, it lets such a server go on, and every server drops it at the next
  // passive request.
  DataConnection unused;
  unused.timeout = timeout_;
  unused.stopAt = stopAt_;
  platform::NetAddress server = control_->peer();
  server.port = *port;
  unused.connect(server);
  return Outcome::success();
}

Outcome FtpLib::askPassive(std::optional<std::uint16_t>& port) {
  FtpReply reply;
  if (passiveCommand() == "PASV") {
    Outcome asked = control_->command("PASV", reply);
    if (asked.ok() && reply.kind() != '2') asked = Outcome::refusal(reply.code, reply.text);
    if (asked.ok()) {
      port = passivePort(reply.line);
      return port ? asked : Outcome::refusal(reply.code, reply.text);
    }
    if (reply.kind() != '5' || !control_->isOpen()) return asked;
    // A server that refuses PASV may still know EPSV.
    pasvRefused_ = true;
  }
  Outcome asked = control_->command("EPSV", reply);
  if (asked.ok() && reply.kind() != '2') asked = Outcome::refusal(reply.code, reply.text);
  if (!asked.ok()) return asked;
  port = extendedPassivePort(reply.line);
  return port ? asked : Outcome::refusal(reply.code, reply.text);
}

Outcome FtpLib::connectData(Transfer& transfer, std::uint16_t port) {
  platform::NetAddress server = control_->peer();
  server.port = port;
  return transfer.data.connect(server);
}

Outcome FtpLib::openPassive(Transfer& transfer) {
  std::optional<std::uint16_t> port;
  if (ahead_ != PassiveRequest::none) {
    const Outcome taken = takePassiveAhead(port);
    if (!taken.ok()) return taken;
  }
  // Some servers answer nothing after a passive request until its data connection is made: when
  // "TYPE" or "REST" has to go between the request and the transfer, the connection comes first.
  bool connected = false;
  if (port && (type_ != transfer.type || transfer.restart != 0)) {
    const Outcome made = connectData(transfer, *port);
    if (!made.ok()) return made;
    connected = true;
    // A server that took the passive request ahead takes "TYPE" ahead too: it goes out with the
    // transfer's command, one round trip for both, which a connection that lists and fetches in
    // turn would otherwise pay at every turn.
    if (lookAhead_ && transfer.restart == 0 && type_ != transfer.type) {
      return sendTypedCommand(transfer);
    }
  }
  Outcome outcome = ensureType(transfer.type);
  if (outcome.ok() && !port) outcome = askPassive(port);
  if (outcome.ok() && !connected && transfer.restart != 0) {
    outcome = connectData(transfer, *port);
    connected = outcome.ok();
  }
  if (outcome.ok()) outcome = sendRestart(transfer);
  // Otherwise the command goes out while the data connection is made: one round trip for both.
  if (outcome.ok()) outcome = control_->send(transfer.command);
  if (!outcome.ok()) return outcome;
  return awaitStart(transfer, connected ? Outcome::success() : connectData(transfer, *port));
}

Outcome FtpLib::sendTypedCommand(Transfer& transfer) {
  type_ = 0;
  Outcome outcome = control_->send(std::string("TYPE ") + transfer.type);
  if (outcome.ok()) outcome = control_->send(transfer.command);
  FtpReply reply;
  if (outcome.ok()) outcome = control_->readReply(reply);
  if (!outcome.ok()) return outcome;
  if (reply.kind() == '2') {
    type_ = transfer.type;
    return awaitStart(transfer, Outcome::success());
  }
  // The type was refused, and the command already sent must not move data in the wrong one: its
  // data connection closes unread, and its replies are read so that the session stays in step.
  const Outcome refused = Outcome::refusal(reply.code, reply.text);
  const std::string said = control_->lastResponse;
  transfer.data.close();
  FtpReply answer;
  const Outcome read = control_->readReply(answer);
  if (!read.ok()) return read;
  if (answer.kind() == '1') {
    const Outcome ended = control_->readReply(answer);
    if (!ended.ok()) return ended;
  }
  control_->lastResponse = said;
  return refused;
}

Outcome FtpLib::awaitStart(Transfer& transfer, const Outcome& made) {
  FtpReply reply;
  const Outcome read = control_->readReply(reply);
  if (!read.ok()) return read;
  if (reply.kind() != '1') return notStarted(reply);
  // The server started without us: its final reply follows and keeps the session in step. A
  // connection it reset before we saw it made ("426 ...") is told in the server's words.
  if (!made.ok()) return endTransfer(transfer.data, made);
  return Outcome::success();
}

Outcome FtpLib::openActive(Transfer& transfer) {
  Outcome outcome = ensureType(transfer.type);
  if (!outcome.ok()) return outcome;
  DataConnection& data = transfer.data;
  const Outcome listening = data.listen(control_->local());
  if (!listening.ok()) return listening;
  const platform::NetAddress at = data.listenAddress();
  const std::string port = at.family == 6 ? "EPRT " + extendedPortArgument(at)
                                          : "PORT " + portArgument(at);
  outcome = exchange(port, '2');
  if (outcome.ok()) outcome = sendRestart(transfer);
  if (!outcome.ok()) return outcome;
  FtpReply reply;
  outcome = control_->command(transfer.command, reply);
  if (!outcome.ok()) return outcome;
  if (reply.kind() != '1') return notStarted(reply);
  const auto wait = timeout_.count() > 0 && timeout_ < kActiveWait ? timeout_ : kActiveWait;
  if (data.accept(control_->peer(), Deadline::after(wait).earlier(stopAt_)).ok()) {
    return Outcome::success();
  }
  // The server may still connect, or answer later: the session is out of step.
  control_->close();
  control_->lastResponse = stopAt_.expired() ? platform::kDeadlineReached : kNoActiveConnection;
  return Outcome::timeout(control_->lastResponse);
}

Outcome FtpLib::sendRestart(Transfer& transfer) {
  if (transfer.restart == 0) return Outcome::success();
  FtpReply reply;
  const Outcome asked = exchange("REST " + std::to_string(transfer.restart), '3', reply);
  if (asked.ok() || asked.kind != OutcomeKind::refused) return asked;
  // Not every server can restart: the whole file comes instead.
  transfer.restart = 0;
  return Outcome::success();
}

Outcome FtpLib::notStarted(const FtpReply& reply) {
  // A completion or a question where the transfer should start is no answer a session can
  // follow: whether more replies come cannot be known, so it ends here.
  if (reply.kind() != '4' && reply.kind() != '5') control_->close();
  return Outcome::refusal(reply.code, reply.text);
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
      return Outcome::refusal(reply.code, reply.text);
    }
    return moved;
  }
  if (reply.kind() != '2') return Outcome::refusal(reply.code, reply.text);
  return Outcome::success();
}

Outcome FtpLib::receive(Transfer& transfer, const DataSink& take) {
  transfer.started = false;
  if (!control_->isOpen()) return Outcome::lost("not connected");
  if (!detail::fitsOnCommandLine(transfer.command)) return kLineBreakInCommand;
  const Outcome opened = startTransfer(transfer);
  if (!opened.ok()) return opened;
  transfer.started = true;
  DataConnection& data = transfer.data;
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
  if (moved.ok()) sendPassiveAhead();
  return endTransfer(data, std::move(moved));
}

Outcome FtpLib::receive(const std::string& command, char type, const DataSink& take,
                        bool& started) {
  Transfer transfer{command, type, 0, {}, false};
  Outcome outcome = receive(transfer, take);
  started = transfer.started;
  return outcome;
}

void FtpLib::setRestartsAllowed(bool allowed) {
  Guard guard(lock_);
  restartsAllowed_ = allowed;
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
  // The caller owns the local file: it stays, whatever becomes of the transfer.
  return receiveToFile(localPath, "RETR " + remotePath, mode, false, &offset);
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
    return finish(kLineBreakInCommand);
  }
  // The local file first: a local problem costs no round trip.
  const std::uint64_t kept = offset != nullptr ? *offset : 0;
  platform::OutputFile file;
  std::string failure;
  if (!file.open(localPath, &failure, kept)) {
    control_->lastResponse = failure;
    return finish(Outcome::local(failure));
  }
  bool started = false;
  Outcome outcome = receiveInto(file, command, mode, offset, started);
  if (!file.close(&failure) && outcome.ok()) outcome = Outcome::local(failure);
  // Nothing was received: a retrieval's empty file goes again.
  if (!started && removeUnstarted && kept == 0) platform::deleteFile(localPath);
  if (outcome.kind == OutcomeKind::localFailure) control_->lastResponse = outcome.reason;
  return finish(std::move(outcome));
}

bool FtpLib::getInto(platform::OutputFile& file, const std::string& remotePath, char mode,
                     std::uint64_t& offset) {
  Guard guard(lock_);
  if (!detail::isTransferMode(mode)) return finish(Outcome::local("no such transfer mode"));
  if (!control_->isOpen()) return finish(Outcome::lost("not connected"));
  const std::string command = "RETR " + remotePath;
  if (!detail::fitsOnCommandLine(command)) return finish(kLineBreakInCommand);
  std::string failure;
  if (!file.restartAt(offset, &failure)) {
    control_->lastResponse = failure;
    return finish(Outcome::local(failure));
  }
  bool started = false;
  Outcome outcome = receiveInto(file, command, mode, &offset, started);
  if (outcome.kind == OutcomeKind::localFailure) control_->lastResponse = outcome.reason;
  return finish(std::move(outcome));
}

Outcome FtpLib::receiveInto(platform::OutputFile& file, const std::string& command, char mode,
                            std::uint64_t* offset, bool& started) {
  const std::uint64_t kept = offset != nullptr ? *offset : 0;
  std::string failure;
  Transfer transfer{command, mode, restartsAllowed_ ? kept : 0, {}, false};
  // A server that refused to restart sends the whole file: what was kept goes.
  bool fromStart = kept == 0;
  std::uint64_t written = kept;
  auto startOver = [&] {
    if (fromStart || transfer.restart != 0) return true;
    fromStart = true;
    *offset = 0;
    written = 0;
    return file.restartAt(0, &failure);
  };
  LineEndFilter filter;
  const bool text = mode == 'A';
  auto store = [&](char* data, std::size_t length) {
    if (!startOver()) return Outcome::local(failure);
    char* from = text ? data - 1 : data;
    const std::size_t count = text ? filter.convert(from, length) : length;
    if (!file.write(from, count, &failure)) return Outcome::local(failure);
    written += count;
    if (observer_) observer_(written);
    return Outcome::success();
  };
  Outcome outcome = receive(transfer, store);
  // A server that took the restart point and then refused the transfer ("554 ...") may still
  // send the file from its start: once more, without "REST", before it counts as refused.
  if (!transfer.started && transfer.restart != 0 && outcome.kind == OutcomeKind::refused &&
      !outcome.transient() && control_->isOpen()) {
    transfer.restart = 0;
    transfer.data.close();
    outcome = receive(transfer, store);
  }
  started = transfer.started;
  if (transfer.started && outcome.ok() && !startOver()) outcome = Outcome::local(failure);
  if (outcome.ok() && filter.holdsCr() && !file.write("\r", 1, &failure)) {
    outcome = Outcome::local(failure);
  }
  return outcome;
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
  Transfer transfer{"STOR " + remotePath, mode, 0, {}, false};
  const Outcome opened = startTransfer(transfer);
  if (!opened.ok()) return finish(opened);
  DataConnection& data = transfer.data;
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
