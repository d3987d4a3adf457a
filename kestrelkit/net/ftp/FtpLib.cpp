#include "kestrelkit/net/ftp/FtpLib.h"

#include <utility>

#include "kestrelkit/net/ftp/ControlConnection.h"
#include "kestrelkit/net/ftp/FtpLibChecks.h"
#include "platform/Socket.h"

namespace kestrelkit::net::ftp {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;
using detail::fitsOnCommandLine;
using detail::isTransferMode;
using platform::Outcome;

const Outcome kRefusedArgument = Outcome::local("a line break or NUL in the command");

/// The text of `reply` after its code and blank.
std::string afterCode(const FtpReply& reply) {
  return reply.line.size() > 4 ? reply.line.substr(4) : std::string();
}

/// The folder name in a "257" reply: the text between the first quote and its closing quote,
/// in which a doubled quote stands for one (RFC 959).
std::string quotedName(const std::string& line) {
  std::string name;
  std::size_t at = line.find('"');
  if (at == std::string::npos) return name;
  for (++at; at < line.size(); ++at) {
    if (line[at] == '"') {
      if (at + 1 < line.size() && line[at + 1] == '"') {
        name += '"';
        ++at;
        continue;
      }
      break;
    }
    name += line[at];
  }
  return name;
}

/// An IPv6 address in brackets, as addresses write it ("[::1]"), without them.
std::string withoutBrackets(const std::string& host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']' &&
      host.find(':') != std::string::npos) {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

}  // namespace

FtpLib::FtpLib() : control_(std::make_unique<ControlConnection>()) {
  platform::ignoreBrokenPipe();
}

FtpLib::~FtpLib() { close(); }

bool FtpLib::finish(Outcome outcome) {
  outcome_ = std::move(outcome);
  if (!control_->isOpen()) type_ = 0;
  return outcome_.ok();
}

Outcome FtpLib::exchange(const std::string& line, char expected, FtpReply& reply) {
  if (!control_->isOpen()) return Outcome::lost("not connected");
  if (!fitsOnCommandLine(line)) return kRefusedArgument;
  const Outcome settled = settleAhead();
  if (!settled.ok()) return settled;
  Outcome outcome = control_->command(line, reply);
  if (outcome.ok() && reply.kind() != expected) return Outcome::refusal(reply.code, reply.text);
  return outcome;
}

Outcome FtpLib::exchange(const std::string& line, char expected) {
  FtpReply reply;
  return exchange(line, expected, reply);
}

bool FtpLib::connect(const std::string& hostAsGiven, std::int32_t port) {
  Guard guard(lock_);
  const std::string host = withoutBrackets(hostAsGiven);
  if (host.empty() || !detail::isCString(host) || port < 0 || port > 65535) {
    return finish(Outcome::local("no such host or port"));
  }
  std::unique_ptr<TlsSession> tls;
  if (security_ != FtpSecurity::none) {
    TlsSettings settings = tlsSettings_;
    settings.host = host;
    std::string error;
    tls = TlsSession::create(settings, error);
    if (!tls) return finish(Outcome::local(error));
  }
  auto fresh = std::make_unique<ControlConnection>();
  fresh->timeout = timeout_;
  fresh->stopAt = stopAt_;
  ControlConnection::Securer fromTheStart;
  if (security_ == FtpSecurity::implicitTls) {
    fromTheStart = [&tls](std::unique_ptr<ByteStream>& stream, const platform::Deadline& deadline) {
      return tls->secureControl(stream, deadline);
    };
  }
  Outcome opened = fresh->open(host, static_cast<std::uint16_t>(port), fromTheStart);
  if (opened.ok() && security_ == FtpSecurity::explicitTls) opened = startTls(*fresh, *tls);
  if (!opened.ok()) {
    fresh->close();
    outcome_ = std::move(opened);
    return false;
  }
  // A second connect replaces the first connection; the old one is ended rather than leaked.
  control_ = std::move(fresh);
  tls_ = std::move(tls);
  type_ = 0;
  pasvRefused_ = false;
  ahead_ = PassiveRequest::none;
  return finish(Outcome::success());
}

Outcome FtpLib::startTls(ControlConnection& control, TlsSession& tls) {
  FtpReply reply;
  Outcome asked = control.command("AUTH TLS", reply);
  if (!asked.ok()) return asked;
  if (reply.code != 234 && reply.kind() != '2') {
    return Outcome::refusal(reply.code, "TLS refused: " + reply.text);
  }
  // Bytes that came in clear behind the "234" would be read as replies once TLS is up, where
  // nobody could have forged them: a server, or someone on the way, that sends them is not
  // trusted with the account.
  if (control.hasUnreadInput()) {
    control.close();
    return Outcome::local("TLS refused: data in clear after the " + std::to_string(reply.code) +
                          " reply");
  }
  return tls.secureControl(control.stream(), platform::Deadline::within(timeout_, stopAt_));
}

Outcome FtpLib::protectData() {
  if (!tls_) return Outcome::success();
  Outcome outcome = exchange("PBSZ 0", '2');
  if (outcome.ok()) outcome = exchange("PROT P", '2');
  return outcome;
}

void FtpLib::setSecurity(FtpSecurity security, TlsSettings settings) {
  Guard guard(lock_);
  security_ = security;
  tlsSettings_ = std::move(settings);
}

bool FtpLib::login(const std::string& user, const std::string& password) {
  Guard guard(lock_);
  if (!fitsOnCommandLine(user) || !fitsOnCommandLine(password)) return finish(kRefusedArgument);
  FtpReply reply;
  Outcome outcome = exchange("USER " + user, '3', reply);
  // A server that needs no password says so with a completion at once.
  if (outcome.kind == platform::OutcomeKind::refused && reply.kind() == '2') {
    outcome = Outcome::success();
  } else if (outcome.ok()) {
    outcome = exchange("PASS " + password, '2');
  }
  // Data in clear is never an option on a secure session: a server that will not protect it
  // fails the login.
  if (outcome.ok()) outcome = protectData();
  if (!finish(outcome)) return false;
  systemType_.clear();
  getSystemType(systemType_);
  if (mlsdAllowed_) askFeatures();
  return finish(Outcome::success());
}

bool FtpLib::setActiveMode() {
  Guard guard(lock_);
  if (!control_->isOpen()) return finish(Outcome::lost("not connected"));
  passive_ = false;
  return finish(Outcome::success());
}

bool FtpLib::setPassiveMode() {
  Guard guard(lock_);
  if (!control_->isOpen()) return finish(Outcome::lost("not connected"));
  passive_ = true;
  return finish(Outcome::success());
}

bool FtpLib::remoteSize(const std::string& path, std::int32_t& size, char mode) {
  Guard guard(lock_);
  if (!isTransferMode(mode)) return finish(Outcome::local("no such transfer mode"));
  Outcome outcome = ensureType(mode);
  FtpReply reply;
  if (outcome.ok()) outcome = exchange("SIZE " + path, '2', reply);
  if (!finish(outcome)) return false;
  const std::string digits = afterCode(reply);
  std::uint64_t value = 0;
  std::size_t at = 0;
  while (at < digits.size() && digits[at] >= '0' && digits[at] <= '9' && value <= 0xFFFFFFFFu) {
    value = value * 10 + static_cast<std::uint64_t>(digits[at++] - '0');
  }
  if (at == 0 || value > 0xFFFFFFFFu) return finish(Outcome::refusal(reply.code, reply.text));
  // A size as the server's 32-bit answer gives it.
  size = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  return true;
}

bool FtpLib::remoteModDate(const std::string& path, std::string& out) {
  Guard guard(lock_);
  out.clear();
  FtpReply reply;
  if (!finish(exchange("MDTM " + path, '2', reply))) return false;
  out = afterCode(reply).substr(0, 100);
  return true;
}

bool FtpLib::mkdir(const std::string& path) {
  Guard guard(lock_);
  return finish(exchange("MKD " + path, '2'));
}

bool FtpLib::getSystemType(std::string& out) {
  Guard guard(lock_);
  out.clear();
  if (!systemType_.empty()) {
    out = systemType_;
    return finish(Outcome::success());
  }
  FtpReply reply;
  if (!finish(exchange("SYST", '2', reply))) return false;
  // The system type is the first word of the reply's text.
  const std::string text = afterCode(reply);
  out = text.substr(0, std::min<std::size_t>(text.find(' '), 99));
  return true;
}

bool FtpLib::isWindows() const {
  return !systemType_.empty() && systemType_.find("Windows") != std::string::npos;
}

bool FtpLib::chdir(const std::string& path) {
  Guard guard(lock_);
  return finish(exchange("CWD " + path, '2'));
}

bool FtpLib::cdup() {
  Guard guard(lock_);
  return finish(exchange("CDUP", '2'));
}

bool FtpLib::deleteFile(const std::string& path) {
  Guard guard(lock_);
  return finish(exchange("DELE " + path, '2'));
}

bool FtpLib::rmdir(const std::string& path) {
  Guard guard(lock_);
  return finish(exchange("RMD " + path, '2'));
}

bool FtpLib::pwd(std::string& out) {
  Guard guard(lock_);
  out.clear();
  FtpReply reply;
  if (!finish(exchange("PWD", '2', reply))) return false;
  out = quotedName(reply.line);
  return true;
}

std::string FtpLib::pwd() {
  Guard guard(lock_);
  std::string out;
  return pwd(out) ? out : std::string();
}

bool FtpLib::rename(const std::string& from, const std::string& to) {
  Guard guard(lock_);
  if (!fitsOnCommandLine(to)) return finish(kRefusedArgument);
  Outcome outcome = exchange("RNFR " + from, '3');
  if (outcome.ok()) outcome = exchange("RNTO " + to, '2');
  return finish(outcome);
}

std::string FtpLib::lastResponse() {
  Guard guard(lock_);
  return control_->lastResponse;
}

bool FtpLib::sendCommand(const std::string& command, char expected) {
  Guard guard(lock_);
  return finish(exchange(command, expected));
}

bool FtpLib::sendCommand(const char* command, char expected) {
  Guard guard(lock_);
  if (command == nullptr) return finish(Outcome::local("no command"));
  return sendCommand(std::string(command), expected);
}

bool FtpLib::utf8On() {
  Guard guard(lock_);
  return sendCommand("OPTS UTF8 ON", '2');
}

void FtpLib::quit() {
  Guard guard(lock_);
  if (!control_->isOpen()) return;
  // The answer is not judged: the connection ends either way.
  finish(exchange("QUIT", '2'));
  close();
}

void FtpLib::close() {
  Guard guard(lock_);
  control_->close();
  ahead_ = PassiveRequest::none;
  tls_.reset();
  control_->lastResponse.clear();
  type_ = 0;
}

platform::Outcome FtpLib::lastOutcome() {
  Guard guard(lock_);
  return outcome_;
}

void FtpLib::setTimeout(std::chrono::milliseconds limit) {
  Guard guard(lock_);
  timeout_ = limit;
  control_->timeout = limit;
}

void FtpLib::setStopAt(platform::Deadline end) {
  Guard guard(lock_);
  stopAt_ = end;
  control_->stopAt = end;
}

bool FtpLib::connected() {
  Guard guard(lock_);
  return control_->isOpen();
}

}  // namespace kestrelkit::net::ftp
