#include "kestrelkit/net/ftp/ControlConnection.h"

#include <string_view>

namespace kestrelkit::net::ftp {

using platform::Deadline;
using platform::Outcome;
using platform::OutcomeKind;

std::string durationText(std::chrono::milliseconds span) {
  const auto ms = span.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  std::string text = std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 + 1000).substr(1);
  while (text.back() == '0') text.pop_back();
  return text + " s";
}

Outcome ControlConnection::open(const std::string& host, std::uint16_t port,
                                const Securer& secure) {
  close();
  std::string error;
  const auto addresses = platform::resolveHost(host, port, error);
  if (addresses.empty()) return Outcome::local(error);
  Outcome tried = Outcome::lost();
  for (const platform::NetAddress& address : addresses) {
    platform::Socket socket;
    tried = socket.connect(address, Deadline::within(timeout));
    if (tried.kind == OutcomeKind::timedOut) {
      tried.reason = "connect timed out after " + durationText(timeout);
    }
    if (!tried.ok()) continue;
    stream_ = std::make_unique<SocketStream>(std::move(socket));
    if (secure) {
      const Outcome secured = secure(stream_, Deadline::within(timeout));
      if (!secured.ok()) return failed(secured);
    }
    return greet();
  }
  return tried;
}

Outcome ControlConnection::greet() {
  FtpReply reply;
  do {
    const Outcome read = readReply(reply);
    if (!read.ok()) return read;
  } while (reply.kind() == '1');
  if (reply.kind() == '2') return Outcome::success();
  close();
  return Outcome::refusal(reply.code, reply.line);
}

void ControlConnection::close() {
  stream_.reset();
  ahead_.clear();
  parser_ = ReplyParser();
  begin_ = end_ = 0;
}

Outcome ControlConnection::failed(Outcome outcome) {
  close();
  return outcome;
}

Outcome ControlConnection::send(const std::string& line) {
  if (!isOpen()) return Outcome::lost("not connected");
  if (!ahead_.empty()) {
    FtpReply unused;
    const Outcome dropped = takeAhead(unused);
    if (!dropped.ok()) return dropped;
  }
  const std::string wire = line + "\r\n";
  Outcome sent = stream_->writeAll(wire.data(), wire.size(), Deadline::within(timeout));
  if (sent.ok()) return sent;
  if (sent.kind == OutcomeKind::timedOut) sent.reason = "command not taken for " + durationText(timeout);
  if (sent.kind == OutcomeKind::connectionLost) sent.reason = "connection lost";
  return failed(sent);
}

Outcome ControlConnection::readReply(FtpReply& reply) {
  if (!isOpen()) return Outcome::lost("not connected");
  // One limit for the whole reply: a server that trickles out an endless one is cut off too.
  const Deadline deadline = Deadline::within(timeout);
  for (;;) {
    begin_ += parser_.feed(std::string_view(buffer_.data() + begin_, end_ - begin_));
    if (parser_.complete()) {
      reply = parser_.take();
      lastResponse = reply.line + "\n";
      return Outcome::success();
    }
    std::size_t got = 0;
    const Outcome read = stream_->readSome(buffer_.data(), buffer_.size(), got, deadline);
    if (read.kind == OutcomeKind::timedOut) {
      return failed(Outcome::timeout("no reply for " + durationText(timeout)));
    }
    if (!read.ok() || got == 0) return failed(Outcome::lost("connection lost"));
    begin_ = 0;
    end_ = got;
  }
}

Outcome ControlConnection::sendAhead(const std::string& line) {
  const Outcome sent = send(line);
  if (sent.ok()) ahead_ = line;
  return sent;
}

Outcome ControlConnection::takeAhead(FtpReply& reply) {
  ahead_.clear();
  return readReply(reply);
}

Outcome ControlConnection::command(const std::string& line, FtpReply& reply) {
  const Outcome sent = send(line);
  return sent.ok() ? readReply(reply) : sent;
}

platform::NetAddress ControlConnection::peer() const {
  return stream_ ? stream_->socket().peer() : platform::NetAddress{};
}

platform::NetAddress ControlConnection::local() const {
  return stream_ ? stream_->socket().local() : platform::NetAddress{};
}

}  // namespace kestrelkit::net::ftp
