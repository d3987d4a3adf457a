#pragma once

#include <string>
#include <utility>

namespace platform {

/// What became of an operation that talks to a peer: the one error style from the socket up to
/// the download job, so that a message can tell the truth and a caller can tell a refusal that
/// will not change from a failure worth another try.
enum class OutcomeKind {
  done,            ///< it worked
  refused,         ///< the server answered with a reply that ends the operation (`replyCode`)
  connectionLost,  ///< the peer closed or reset the connection, or it could not be made
  timedOut,        ///< nothing moved within the time limit
  localFailure,    ///< this side failed: a local file, a name that cannot be resolved, ...
};

/// The outcome of one operation; `reason` is a short text for messages (the server's reply line
/// for a refusal, without its line end).
struct Outcome {
  OutcomeKind kind = OutcomeKind::done;
  int replyCode = 0;
  std::string reason;

  static Outcome success() { return {}; }
  static Outcome refusal(int code, std::string replyLine) {
    return {OutcomeKind::refused, code, std::move(replyLine)};
  }
  static Outcome lost(std::string why = "connection lost") {
    return {OutcomeKind::connectionLost, 0, std::move(why)};
  }
  static Outcome timeout(std::string why) { return {OutcomeKind::timedOut, 0, std::move(why)}; }
  static Outcome local(std::string why) { return {OutcomeKind::localFailure, 0, std::move(why)}; }

  bool ok() const { return kind == OutcomeKind::done; }
  /// A failure that another try, on a new connection if need be, may well mend: a lost or
  /// silent connection, or the server's "try again" replies (421, 425, 426, 450, 451).
  bool transient() const {
    switch (kind) {
      case OutcomeKind::connectionLost:
      case OutcomeKind::timedOut:
        return true;
      case OutcomeKind::refused:
        return replyCode == 421 || replyCode == 425 || replyCode == 426 || replyCode == 450 ||
               replyCode == 451;
      default:
        return false;
    }
  }
};

}  // namespace platform
