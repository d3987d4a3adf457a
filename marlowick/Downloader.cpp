#include "marlowick/Downloader.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <exception>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpScan.h"
#include "kestrelkit/net/ftp/PatternMatch.h"
#include "marlowick/PartFile.h"
#include "marlowick/SafeName.h"
#include "marlowick/TickTime.h"
#include "marlowick/TransferCrew.h"
#include "marlowick/ConsoleOutput.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace marlowick {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpLib;
using kestrelkit::net::ftp::FtpScan;
using kestrelkit::net::ftp::kUnknownSize;
using kestrelkit::net::ftp::splitPatterns;

namespace {

/// True when a file (not a folder) of exactly `size` bytes is at `path`.
bool sameSizeFileAt(const std::string& path, std::uint64_t size) {
  // An unknown listed size never counts as the same.
  if (size == kUnknownSize) return false;
  if (platform::pathKind(path) != platform::PathKind::file) return false;
  return platform::fileSize(path) == size;
}

/// The connection's last reply without its line end: a message is one line.
std::string lastReplyLine(FtpLib& ftp) {
  std::string reply = ftp.lastResponse();
  while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
  return reply;
}

/// Feeds a transfer's byte counts to its progress line while it lives.
class ObservedTransfer {
 public:
  ObservedTransfer(FtpLib& ftp, TransferProgress& progress) : ftp_(ftp) {
    ftp_.setTransferObserver([&progress](std::uint64_t received) { progress.update(received); });
  }
  ~ObservedTransfer() { ftp_.setTransferObserver(nullptr); }
  ObservedTransfer(const ObservedTransfer&) = delete;
  ObservedTransfer& operator=(const ObservedTransfer&) = delete;

 private:
  FtpLib& ftp_;
};

}  // namespace

bool Downloader::setAscii() {
  transferMode = 'A';
  return true;
}

bool Downloader::setImage() {
  transferMode = 'I';
  return true;
}

std::string Downloader::serverCharset() const {
  if (encoding == 0 && !systemCodePage.empty()) return systemCodePage;
  return platform::codePageCharset(encoding);
}

std::string Downloader::toServer(const std::string& text) const {
  if (encoding == kUtf8 || text.empty()) return text;
  return platform::fromUtf8(text, serverCharset());
}

std::string Downloader::fromServer(const std::string& bytes) const {
  if (encoding == kUtf8 || bytes.empty()) return bytes;
  return platform::toUtf8(bytes, serverCharset());
}

std::string Downloader::replyText(FtpLib& ftp) const {
  return visibleName(fromServer(lastReplyLine(ftp)));
}

std::string Downloader::failureText(FtpLib& ftp) const {
  const platform::Outcome outcome = ftp.lastOutcome();
  // A refusal is the server's own line, in its code page; every other reason is ours.
  if (outcome.kind == platform::OutcomeKind::refused) return visibleName(fromServer(outcome.reason));
  return visibleName(outcome.reason);
}

bool Downloader::scanRemote(const std::string& startPath, FtpLib& ftp) {
  return scanAndOffer(startPath, ftp, nullptr);
}

bool Downloader::scanAndOffer(const std::string& startPath, FtpLib& ftp, TransferCrew* crew) {
  FtpScan scanner(ftp);
  scanner.includes = splitPatterns(toServer(include));
  scanner.excludes = splitPatterns(toServer(exclude));
  scanner.maxSize = lsize;
  scanner.minSize = gsize;
  scanner.maxAge = lmodified;
  scanner.minAge = gmodified;
  scanner.maxFiles = maxfiles;
  scanner.maxFolders = maxfolders;
  // The extra connections may start on each file as soon as it is selected. The scanner asks
  // its acceptance test last, for files that pass everything else, and keeps every file it
  // accepts: so exactly the selected files are offered, in walk order.
  kestrelkit::net::ftp::FtpScanFilter offer;
  if (crew != nullptr) {
    offer = [crew](FtpFileInfo file) {
      crew->offer(std::move(file));
      return true;
    };
  }
  // The records move out: a scan of many files is not held twice.
  files = scanner.scanWith(startPath, std::move(offer), recurse).takeFiles();
  return !files.empty();
}

bool Downloader::execute() {
  FtpLib ftp;
  try {
    return runJob(ftp);
  } catch (...) {
    // Reported below with the connection's last reply, whatever was raised.
  }
  std::string reply;
  try {
    reply = replyText(ftp);
  } catch (const std::exception&) {
    // The failure may have been this very conversion: show the reply as the server sent it.
    reply = visibleName(lastReplyLine(ftp));
  }
  return printAndLog(fmt::format("Download catch {}, host {}", reply, host), false);
}

bool Downloader::runJob(FtpLib& ftp) {
  if (systemCodePage.empty()) systemCodePage = platform::localeCharset();
  consoleLine(fmt::format(" Connecting {} ...", host));
  if (secure != kestrelkit::net::ftp::FtpSecurity::none && !verify) {
    printAndLog(" the server's certificate is not checked (--verify=false)", true);
  }
  prepare(ftp);
  if (!ftp.connect(host, port)) {
    return printAndLog(fmt::format("Unable to connect to {} {}", host, failureText(ftp)), false);
  }
  if (passive) {
    ftp.setPassiveMode();
  } else {
    ftp.setActiveMode();
  }
  if (!ftp.login(username, password)) {
    return printAndLog(fmt::format("Login failure {}", failureText(ftp)), false);
  }
  printAndLog(fmt::format(" Connected to {}", host), true);
  if (ftp.utf8On()) {
    encoding = kUtf8;
    printAndLog(" the encoding of ftp server is UTF8", true);
  }
  if (!remote.empty()) {
    if (!ftp.chdir(toServer(remote))) {
      return printAndLog(
          fmt::format("working directory changed to {} failure, {}", remote, failureText(ftp)),
          false);
    }
    consoleLine(fmt::format(" working directory changed to {}", remote));
  }
  if (connections > 1 && !justPrint) {
    // The other connections log in, and start fetching, while this one scans.
    TransferCrew crew(*this, connections - 1);
    if (!scanAndOffer(std::string(), ftp, &crew)) {
      return printAndLog(fmt::format("No files matched on remote server: {}", host), false);
    }
    crew.run(ftp, files.size());
    return true;
  }
  bool found = scanRemote(std::string(), ftp);
  if (justPrint) printSettings();
  if (!found) return printAndLog(fmt::format("No files matched on remote server: {}", host), false);
  for (std::size_t i = 0; i < files.size(); ++i) handleFile(ftp, files[i], i + 1, files.size());
  return true;
}

void Downloader::prepare(FtpLib& ftp) const {
  ftp.setTimeout(std::chrono::seconds(timeout));
  if (secure == kestrelkit::net::ftp::FtpSecurity::none) return;
  kestrelkit::net::ftp::TlsSettings settings;
  settings.verify = verify;
  settings.caFile = cafile;
  ftp.setSecurity(secure, settings);
}

bool Downloader::openExtraConnection(FtpLib& ftp, std::string& failure) {
  prepare(ftp);
  if (!ftp.connect(host, port)) {
    failure = fmt::format("Unable to connect to {} {}", host, failureText(ftp));
    return false;
  }
  if (passive) {
    ftp.setPassiveMode();
  } else {
    ftp.setActiveMode();
  }
  if (!ftp.login(username, password)) {
    failure = fmt::format("Login failure {}", failureText(ftp));
    return false;
  }
  // Names were listed in the first connection's code page; this one must use the same.
  if (ftp.utf8On() != (encoding == kUtf8)) {
    failure = fmt::format("the server's answer to UTF-8 names differs: {}", replyText(ftp));
    return false;
  }
  if (!remote.empty() && !ftp.chdir(toServer(remote))) {
    failure = fmt::format("working directory changed to {} failure, {}", remote, failureText(ftp));
    return false;
  }
  return true;
}

void Downloader::handleFile(FtpLib& ftp, const FtpFileInfo& record, std::size_t position,
                            std::size_t count) {
  if (handleOneFile(ftp, record, position, count, nullptr)) ++savedCount;
}

bool Downloader::handleOneFile(FtpLib& ftp, const FtpFileInfo& record, std::size_t position,
                               std::size_t count, FileReport* report) {
  auto say = [report](std::string text, bool isInfo) {
    return report != nullptr ? report->add(std::move(text), isInfo) : printAndLog(text, isInfo);
  };
  std::string display = fromServer(record.name);
  // A listed name decides where the file lands: one that would leave `local` is refused.
  if (!isSafeRelativeName(record.name) || !isSafeRelativeName(display)) {
    return say(fmt::format("Unsafe remote name, not downloaded: {}", visibleName(display)), false);
  }
  // Each remote level becomes a local folder level, named with the native separator.
  std::replace(display.begin(), display.end(), '/', platform::kPathSeparator);
  std::string localPath = local + display;
  if (!justPrint && !localNames_.claim(localPath, record.name)) {
    return say(fmt::format("Download {} failed: another remote name of this job has the same "
                           "local name",
                           display),
               false);
  }
  if (!overwrite && sameSizeFileAt(localPath, record.size)) {
    say(fmt::format(" Same size, skiped: {}", display), true);
    return false;
  }
  if (justPrint) {
    say(fmt::format(" found {}, last modified: {:s}", display, TickTime{record.modifyTime}), true);
    return false;
  }
  try {
    createFolders(localPath);
  } catch (const std::exception& error) {
    return say(fmt::format("create {} catch {}", localPath, error.what()), false);
  }
  if (report != nullptr) {
    report->announce(display, position);
  } else {
    printAndLog(fmt::format(" Downloading {} {}/{} ...", display, position, count), true);
  }
  // Found before the data is asked for, not after it crossed the network.
  if (std::string obstacle = localPathObstacle(localPath); !obstacle.empty()) {
    return say(fmt::format("Download {} failed: {}", display, obstacle), false);
  }
  std::string failure;
  bool saved = false;
  if (TransferProgress::visible()) {
    TransferProgress progress(display, record.size);
    ObservedTransfer observed(ftp, progress);
    saved = fetchFile(ftp, record, localPath, failure);
  } else {
    saved = fetchFile(ftp, record, localPath, failure);
  }
  if (!saved) say(fmt::format("Download {} failed: {}", display, failure), false);
  return saved;
}

bool Downloader::fetchFile(FtpLib& ftp, const FtpFileInfo& record, const std::string& localPath,
                           std::string& failure) {
  PartFile part(localPath);
  if (!part.create(failure)) return false;
  if (!ftp.get(part.path(), record.name, transferMode)) {
    failure = failureText(ftp);
    return false;
  }
  // A server may end a transfer early and still call it complete; in image mode the bytes
  // must add up to the listed size (text mode changes line ends, so its size differs).
  if (transferMode == 'I' && record.size != kUnknownSize) {
    const std::uint64_t received = platform::fileSize(part.path()).value_or(0);
    if (received < record.size) {
      failure = fmt::format("received {} of {} bytes", received, record.size);
      return false;
    }
  }
  return part.commit(failure);
}

}  // namespace marlowick
