#include "kestrelkit/net/ftp/DataConnection.h"

#include "util/Text.h"

namespace kestrelkit::net::ftp {

using platform::Deadline;
using util::durationText;
using platform::Outcome;
using platform::OutcomeKind;

Outcome DataConnection::described(Outcome outcome) const {
  if (outcome.kind == OutcomeKind::timedOut) {
    outcome.reason =
        stopAt.expired() ? platform::kDeadlineReached : "no data for " + durationText(timeout);
  }
  if (outcome.kind == OutcomeKind::connectionLost) {
    outcome.reason = "data connection lost: " + outcome.reason;
  }
  return outcome;
}

Outcome DataConnection::connect(const platform::NetAddress& server) {
  platform::Socket socket;
  Outcome made = socket.connect(server, waitLimit());
  if (!made.ok()) {
    if (made.kind == OutcomeKind::timedOut) {
      made.reason = stopAt.expired() ? platform::kDeadlineReached
                                     : "data connection timed out after " + durationText(timeout);
    } else {
      made.reason = "no data connection: " + made.reason;
    }
    return made;
  }
  stream_ = std::make_unique<SocketStream>(std::move(socket));
  return made;
}

Outcome DataConnection::listen(const platform::NetAddress& local) {
  platform::NetAddress any = local;
  any.port = 0;
  return listener_.open(any, 1);
}

Outcome DataConnection::accept(const platform::NetAddress& server, const Deadline& deadline) {
  for (;;) {
    platform::Socket socket;
    platform::NetAddress from;
    const Outcome taken = listener_.accept(socket, from, deadline);
    if (!taken.ok()) return taken;
    // Anyone who can reach the port could otherwise feed the transfer.
    if (!from.sameHost(server)) continue;
    listener_.close();
    stream_ = std::make_unique<SocketStream>(std::move(socket));
    return taken;
  }
}

Outcome DataConnection::readSome(char* buffer, std::size_t capacity, std::size_t& got) {
  if (!stream_) return Outcome::lost("no data connection");
  return described(stream_->readSome(buffer, capacity, got, waitLimit()));
}

Outcome DataConnection::writeAll(const char* data, std::size_t length) {
  if (!stream_) return Outcome::lost("no data connection");
  return described(stream_->writeAll(data, length, waitLimit()));
}

void DataConnection::finish() {
  if (stream_) stream_->finish(waitLimit());
  close();
}

void DataConnection::close() {
  stream_.reset();
  listener_.close();
}

}  // namespace kestrelkit::net::ftp
