#include "marlowick/JobSettings.h"

#include "marlowick/SafeName.h"
#include "platform/Encoding.h"

namespace marlowick {

using kestrelkit::net::ftp::FtpLib;

std::string lastReplyLine(FtpLib& ftp) {
  std::string reply = ftp.lastResponse();
  while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
  return reply;
}

std::string JobSettings::serverCharset() const {
  if (encoding == 0 && !systemCodePage.empty()) return systemCodePage;
  return platform::codePageCharset(encoding);
}

std::string JobSettings::toServer(const std::string& text) const {
  if (encoding == kUtf8 || text.empty()) return text;
  return platform::fromUtf8(text, serverCharset());
}

std::string JobSettings::fromServer(const std::string& bytes) const {
  if (encoding == kUtf8 || bytes.empty()) return bytes;
  return platform::toUtf8(bytes, serverCharset());
}

std::string JobSettings::replyText(FtpLib& ftp) const {
  return visibleName(fromServer(lastReplyLine(ftp)));
}

std::string JobSettings::failureText(FtpLib& ftp) const {
  const platform::Outcome outcome = ftp.lastOutcome();
  // A refusal is the server's own line, in its code page; every other reason is ours.
  if (outcome.kind == platform::OutcomeKind::refused) return visibleName(fromServer(outcome.reason));
  return visibleName(outcome.reason);
}

void JobSettings::prepare(FtpLib& ftp) const {
  ftp.setTimeout(std::chrono::seconds(timeout));
  ftp.setStopAt(stopAt);
  // Only a listing that will be asked for again may be doubted.
  ftp.setListingEndsChecked(retries > 0);
  if (secure == kestrelkit::net::ftp::FtpSecurity::none) return;
  kestrelkit::net::ftp::TlsSettings settings;
  settings.verify = verify;
  settings.caFile = cafile;
  ftp.setSecurity(secure, settings);
}

bool JobSettings::deadlinePassed() const {
  if (!stopAt.expired()) return false;
  record->stoppedByDeadline();
  return true;
}

}  // namespace marlowick
