#pragma once

#include <functional>
#include <string>

#include "marlowick/JobSettings.h"
#include "platform/Outcome.h"

namespace kestrelkit::net::ftp {
class FtpLib;
}

namespace marlowick {

/// Which session of a job is opened. The first one learns the server's answer to UTF-8 names
/// and reports its steps; every later one (the extra connections, every reconnect) must get the
/// same answer, since names were listed in the first one's code page, and reports nothing.
enum class SessionKind { first, later };

/// How the opening of a working session went.
struct SessionOpening {
  /// Done, or why not: `transient()` when another try may mend it.
  platform::Outcome outcome;
  /// The message of a failure ("Unable to connect to ...", "Login failure ...", ...).
  std::string failure;
  /// The server took "OPTS UTF8 ON".
  bool utf8 = false;

  bool ok() const { return outcome.ok(); }
};

/// One try at opening `ftp` as `settings` say: connect, transfer mode, login, UTF-8 names, start
/// folder. The one routine for every session of a job.
SessionOpening openSession(kestrelkit::net::ftp::FtpLib& ftp, const JobSettings& settings,
                           SessionKind kind);

/// `openSession`, tried again by the opening rule (see `Retrying`), with one Info line before
/// each further try.
SessionOpening openSessionWithRetries(kestrelkit::net::ftp::FtpLib& ftp,
                                      const JobSettings& settings, SessionKind kind);

/// A later session in place of a lost one: closed again when it cannot be opened, announced
/// through `say` (" Reconnected to HOST") when it is.
SessionOpening reopenSession(kestrelkit::net::ftp::FtpLib& ftp, const JobSettings& settings,
                             const std::function<void(const std::string&)>& say);

}  // namespace marlowick
