#include "marlowick/Downloader.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <exception>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpScan.h"
#include "kestrelkit/net/ftp/PatternMatch.h"
#include "marlowick/ConsoleOutput.h"
#include "marlowick/ListingAhead.h"
#include "marlowick/Retrying.h"
#include "marlowick/SafeName.h"
#include "marlowick/SessionOpening.h"
#include "marlowick/TransferCrew.h"
#include "platform/Encoding.h"

namespace marlowick {
namespace {

/// Folders listed ahead and not yet taken by the walk, for each connection that lists them.
constexpr std::size_t kAheadPerConnection = 16;

constexpr const char* kScanStopped =
    "Scan stopped: deadline reached, folders not yet listed are left out";

}  // namespace

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpLib;
using kestrelkit::net::ftp::FtpScan;
using kestrelkit::net::ftp::splitPatterns;

Downloader::Downloader(const Downloader& other)
    : JobSettings(other),
      files(other.files),
      savedCount(other.savedCount),
      localNames_(other.localNames_) {}

Downloader& Downloader::operator=(const Downloader& other) {
  if (this != &other) {
    JobSettings::operator=(other);
    files = other.files;
    savedCount = other.savedCount;
    localNames_ = other.localNames_;
    fetcher_.reset();
  }
  return *this;
}

bool Downloader::setAscii() {
  transferMode = 'A';
  return true;
}

bool Downloader::setImage() {
  transferMode = 'I';
  return true;
}

bool Downloader::scanRemote(const std::string& startPath, FtpLib& ftp) {
  return scanAndOffer(startPath, ftp, nullptr);
}

bool Downloader::scanAndOffer(const std::string& startPath, FtpLib& ftp,
                              kestrelkit::net::ftp::FtpScanSelected selected,
                              kestrelkit::net::ftp::FtpScanAhead* ahead) {
  FtpScan scanner(ftp);
  scanner.ahead = ahead;
  scanner.includes = splitPatterns(toServer(include));
  scanner.excludes = splitPatterns(toServer(exclude));
  scanner.maxSize = lsize;
  scanner.minSize = gsize;
  scanner.maxAge = lmodified;
  scanner.minAge = gmodified;
  scanner.maxFiles = maxfiles;
  scanner.maxFolders = maxfolders;
  scanner.selected = std::move(selected);
  scanner.retryListing = [this, &ftp](const std::string& folder, int attempt) {
    return retryListing(ftp, folder, attempt);
  };
  // Each folder that could not be read, or was left out, is said as it happens; the job goes on.
  scanner.noted = [this](const std::string& note) {
    printAndLog(visibleName(fromServer(note)), false);
  };
  // Once the session is gone for good, the folders still to list fail at once, for its reason.
  listingGone_.clear();
  reconnectFailure_.clear();
  scanner.listingFailure = [this, &ftp] {
    if (deadlinePassed()) return std::string(platform::kDeadlineReached);
    return listingGone_.empty() ? ftp.lastOutcome().reason : listingGone_;
  };
  // The job's end ends the walk: the folders not yet listed are left out, with one line.
  bool stopped = false;
  scanner.stopWhen = [this, &stopped] { return stopped = deadlinePassed(); };
  // The records move out: a scan of many files is not held twice.
  files = scanner.scanWith(startPath, nullptr, recurse).takeFiles();
  record->scanErrors(scanner.errors());
  if (stopped) printAndLog(kScanStopped, false);
  return !files.empty();
}

bool Downloader::retryListing(FtpLib& ftp, const std::string& folder, int attempt) {
  if (!listingGone_.empty()) return false;
  Retrying retrying(*this, kListing, attempt - 1);
  if (!retrying.another(ftp.lastOutcome())) {
    if (!ftp.connected() && !reconnectFailure_.empty()) listingGone_ = reconnectFailure_;
    return false;
  }
  const auto info = [](const std::string& line) { printAndLog(line, true); };
  if (!retrying.pause(folder.empty() ? std::string(".") : visibleName(fromServer(folder)),
                      failureText(ftp), info)) {
    return false;
  }
  if (ftp.connected()) return true;
  const SessionOpening opening = reopenSession(ftp, *this, info);
  reconnectFailure_ = opening.failure;
  // When it failed, the listing is tried again all the same: it fails at once, and the next
  // try reconnects.
  if (!opening.ok()) info(fmt::format(" Reconnect to {} failed: {}", host, opening.failure));
  return true;
}

bool Downloader::execute() {
  stopAt = platform::Deadline::within(std::chrono::seconds(deadline));
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
  record->aborted(fmt::format("Download catch {}, host {}", reply, host));
  return printAndLog(fmt::format("Download catch {}, host {}", reply, host), false);
}

bool Downloader::runJob(FtpLib& ftp) {
  if (systemCodePage.empty()) systemCodePage = platform::localeCharset();
  fetcher_.reset();
  consoleLine(fmt::format(" Connecting {} ...", host));
  if (secure != kestrelkit::net::ftp::FtpSecurity::none && !verify) {
    printAndLog(" the server's certificate is not checked (--verify=false)", true);
  }
  // Only this session lists folders: the others need not ask for the server's features.
  ftp.setMlsdAllowed(mlsd, [](const std::string& refusal) {
    printAndLog(fmt::format(" MLSD refused ({}): folders are listed with LIST", refusal), true);
  });
  const SessionOpening opening = openSessionWithRetries(ftp, *this, SessionKind::first);
  if (opening.utf8) encoding = kUtf8;
  if (!opening.ok()) {
    record->notStarted(opening.failure);
    // A session the job's end kept from opening: the job was stopped by it.
    deadlinePassed();
    return printAndLog(opening.failure, false);
  }
  if (ftp.listsByMlsd()) printAndLog(" Folders are listed with MLSD", true);
  if (connections > 1 && !justPrint) return scanOnCrew(ftp);
  // Listing files alone, the other connections are of use only for the folders below.
  bool found = connections > 1 && recurse ? scanOnCrew(ftp) : scanRemote(std::string(), ftp);
  if (justPrint) printSettings();
  if (!found) return printAndLog(fmt::format("No files matched on remote server: {}", host), false);
  for (std::size_t i = 0; i < files.size(); ++i) handleFile(ftp, files[i], i + 1, files.size());
  return true;
}

bool Downloader::scanOnCrew(FtpLib& ftp) {
  const int extra = connections - 1;
  ListingAhead ahead(ftp, *this, FtpScan::kDefaultMaxDepth,
                     kAheadPerConnection * static_cast<std::size_t>(extra));
  // The other connections log in, list ahead of the scan and fetch what it selects; the scan of
  // one folder alone has nothing to list ahead.
  ListingAhead* const listing = recurse ? &ahead : nullptr;
  TransferCrew crew(
      *this, extra, localNames_, [this](const std::string& localPath) { createFolders(localPath); },
      savedCount, listing);
  kestrelkit::net::ftp::FtpScanSelected offer;
  if (!justPrint) {
    offer = [&crew](const FtpFileInfo& file) { crew.offer(file); };
    ahead.setMeanwhile([&crew, &ftp] { return crew.fetchMeanwhile(ftp); });
  }
  const bool found = scanAndOffer(std::string(), ftp, std::move(offer), listing);
  ahead.close();
  if (justPrint) return found;
  if (!found) return printAndLog(fmt::format("No files matched on remote server: {}", host), false);
  crew.run(ftp, files.size());
  return true;
}

FileFetcher& Downloader::fetcher() {
  if (!fetcher_) {
    fetcher_ = std::make_unique<FileFetcher>(
        *this, localNames_, [this](const std::string& localPath) { createFolders(localPath); });
  }
  return *fetcher_;
}

void Downloader::handleFile(FtpLib& ftp, const FtpFileInfo& record, std::size_t position,
                            std::size_t count) {
  if (fetcher().handle(ftp, record, position, count, nullptr, false) == FileOutcome::saved) {
    ++savedCount;
  }
}

}  // namespace marlowick
