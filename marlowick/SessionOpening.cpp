#include "marlowick/SessionOpening.h"

#include <fmt/format.h>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/ConsoleOutput.h"
#include "marlowick/Retrying.h"

namespace marlowick {

using kestrelkit::net::ftp::FtpLib;
using platform::Outcome;

namespace {

SessionOpening failed(FtpLib& ftp, std::string failure) {
  return {ftp.lastOutcome(), std::move(failure), false};
}

void printInfo(const std::string& line) { printAndLog(line, true); }

}  // namespace

SessionOpening openSession(FtpLib& ftp, const JobSettings& settings, SessionKind kind) {
  const bool first = kind == SessionKind::first;
  settings.prepare(ftp);
  if (!ftp.connect(settings.host, settings.port)) {
    return failed(ftp,
                  fmt::format("Unable to connect to {} {}", settings.host, settings.failureText(ftp)));
  }
  if (settings.passive) {
    ftp.setPassiveMode();
  } else {
    ftp.setActiveMode();
  }
  if (!ftp.login(settings.username, settings.password)) {
    return failed(ftp, fmt::format("Login failure {}", settings.failureText(ftp)));
  }
  if (first) printAndLog(fmt::format(" Connected to {}", settings.host), true);
  JobSettings used = settings;
  const bool utf8 = ftp.utf8On();
  // A connection lost during the question is no answer: another try may well get one.
  if (!utf8 && !ftp.connected()) {
    return failed(ftp, fmt::format("Unable to connect to {} {}", settings.host,
                                   settings.failureText(ftp)));
  }
  if (first) {
    if (utf8) {
      used.encoding = JobSettings::kUtf8;
      printAndLog(" the encoding of ftp server is UTF8", true);
    }
  } else if (utf8 != (settings.encoding == JobSettings::kUtf8)) {
    return {Outcome::local("UTF-8 answer differs"),
            fmt::format("the server's answer to UTF-8 names differs: {}", settings.replyText(ftp)),
            utf8};
  }
  if (!settings.remote.empty()) {
    if (!ftp.chdir(used.toServer(settings.remote))) {
      SessionOpening opening = failed(ftp, fmt::format("working directory changed to {} failure, {}",
                                                       settings.remote, settings.failureText(ftp)));
      opening.utf8 = utf8;
      return opening;
    }
    if (first) consoleLine(fmt::format(" working directory changed to {}", settings.remote));
  }
  return {Outcome::success(), std::string(), utf8};
}

SessionOpening openSessionWithRetries(FtpLib& ftp, const JobSettings& settings,
                                      SessionKind kind) {
  Retrying retrying(settings, kOpening);
  for (;;) {
    SessionOpening opening = openSession(ftp, settings, kind);
    if (opening.ok() || !retrying.another(opening.outcome)) return opening;
    ftp.close();
    if (!retrying.pause(settings.host, opening.failure, printInfo)) return opening;
  }
}

SessionOpening reopenSession(FtpLib& ftp, const JobSettings& settings,
                             const std::function<void(const std::string&)>& say) {
  SessionOpening opening = openSession(ftp, settings, SessionKind::later);
  if (!opening.ok()) {
    ftp.close();
    return opening;
  }
  say(fmt::format(" Reconnected to {}", settings.host));
  return opening;
}

}  // namespace marlowick
