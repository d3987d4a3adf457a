#include "kestrelkit/net/ftp/ControlConnection.h"

#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "util/Text.h"

namespace kestrelkit::net::ftp {

using platform::Deadline;
using platform::Outcome;
using platform::OutcomeKind;
using util::durationText;

namespace {

/// What a resolver thread found, shared with the thread so that it may outlive the wait.
struct Resolution {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::vector<platform::NetAddress> addresses;
  std::string error;
};

/// The addresses of `host`, looked up on a thread of its own: the system's resolver has no
/// time limit a caller can set, and a stuck one must not hold the job. A lookup still running
/// when the time is up is left to end by itself.
Outcome resolveWithin(const std::string& host, std::uint16_t port, std::chrono::milliseconds limit,
                      const Deadline& stopAt, std::vector<platform::NetAddress>& addresses) {
  auto shared = std::make_shared<Resolution>();
  std::thread([shared, host, port] {
    std::string error;
    auto found = platform::resolveHost(host, port, error);
    std::lock_guard<std::mutex> guard(shared->mutex);
    shared->addresses = std::move(found);
    shared->error = std::move(error);
    shared->finished = true;
    shared->done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(shared->mutex);
  auto finished = [&shared] { return shared->finished; };
  const Deadline until = Deadline::within(limit, stopAt);
  if (until.limited()) {
    if (!shared->done.wait_for(lock, std::chrono::milliseconds(until.remainingMs()), finished)) {
      if (stopAt.expired()) return Outcome::timeout(platform::kDeadlineReached);
      return Outcome::timeout("name not resolved within " + durationText(limit));
    }
  } else {
    shared->done.wait(lock, finished);
  }
  if (shared->addresses.empty()) return Outcome::local(shared->error);
  addresses = std::move(shared->addresses);
  return Outcome::success();
}

}  // namespace

Outcome ControlConnection::open(const std::string& host, std::uint16_t port,
                                const Securer& secure) {
  close();
  std::vector<platform::NetAddress> addresses;
  const Outcome resolved = resolveWithin(host, port, timeout, stopAt, addresses);
  if (!resolved.ok()) return resolved;
  Outcome tried = Outcome::lost();
  for (const platform::NetAddress& address : addresses) {
    platform::Socket socket;
    tried = socket.connect(address, waitLimit());
    if (tried.kind == OutcomeKind::timedOut) {
      tried = timedOut("connect timed out after " + durationText(timeout));
    }
    if (!tried.ok()) continue;
    stream_ = std::make_unique<SocketStream>(std::move(socket));
    if (secure) {
      const Outcome secured = secure(stream_, waitLimit());
      if (!secured.ok()) return failed(secured);
    }
    return greet();
  }
  return tried;
}

Outcome ControlConnection::greet() {
  // One limit for the whole greeting: a server may not hold the job with "120" for ever.
  const Deadline deadline = waitLimit();
  FtpReply reply;
  do {
    const Outcome read = readReply(reply, deadline);
    if (!read.ok()) return read;
  } while (reply.kind() == '1');
  if (reply.kind() == '2') return Outcome::success();
  close();
  return Outcome::refusal(reply.code, reply.text);
}

void ControlConnection::close() {
  stream_.reset();
  hasAhead_ = false;
  parser_ = ReplyParser();
  begin_ = end_ = 0;
}

Outcome ControlConnection::failed(Outcome outcome) {
  close();
  return outcome;
}

Outcome ControlConnection::send(const std::string& line) {
  if (!isOpen()) return Outcome::lost("not connected");
  if (hasAhead_) {
    FtpReply unused;
    const Outcome dropped = takeAhead(unused);
    if (!dropped.ok()) return dropped;
  }
  const std::string wire = line + "\r\n";
  Outcome sent = stream_->writeAll(wire.data(), wire.size(), waitLimit());
  if (sent.ok()) return sent;
  if (sent.kind == OutcomeKind::timedOut)
    sent = timedOut("command not taken for " + durationText(timeout));
  if (sent.kind == OutcomeKind::connectionLost) sent.reason = "connection lost";
  return failed(sent);
}

Outcome ControlConnection::readReply(FtpReply& reply) {
  // One limit for the whole reply: a server that trickles out an endless one is cut off too.
  return readReply(reply, waitLimit());
}

Outcome ControlConnection::timedOut(std::string what) const {
  return Outcome::timeout(stopAt.expired() ? platform::kDeadlineReached : std::move(what));
}

Outcome ControlConnection::readReply(FtpReply& reply, const Deadline& deadline) {
  if (!isOpen()) return Outcome::lost("not connected");
  for (;;) {
    begin_ += parser_.feed(std::string_view(buffer_.data() + begin_, end_ - begin_));
    if (parser_.complete()) {
      reply = parser_.take();
      lastResponse = reply.text + "\n";
      // The server closes after "421": whatever follows on this connection is lost already.
      if (reply.code == 421) close();
      return Outcome::success();
    }
    std::size_t got = 0;
    const Outcome read = stream_->readSome(buffer_.data(), buffer_.size(), got, deadline);
    if (read.kind == OutcomeKind::timedOut) {
      return failed(timedOut("no reply for " + durationText(timeout)));
    }
    if (!read.ok() || got == 0) return failed(Outcome::lost("connection lost"));
    begin_ = 0;
    end_ = got;
  }
}

Outcome ControlConnection::sendAhead(const std::string& line) {
  const Outcome sent = send(line);
  if (sent.ok()) hasAhead_ = true;
  return sent;
}

Outcome ControlConnection::takeAhead(FtpReply& reply) {
  hasAhead_ = false;
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
