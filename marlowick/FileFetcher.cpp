#include "marlowick/FileFetcher.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/ConsoleOutput.h"
#include "marlowick/FileReport.h"
#include "marlowick/PartFile.h"
#include "marlowick/Retry.h"
#include "marlowick/SafeName.h"
#include "marlowick/SessionOpening.h"
#include "marlowick/TickTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace marlowick {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpLib;
using kestrelkit::net::ftp::kUnknownSize;
using platform::Outcome;

namespace {

/// True when a file (not a folder) of exactly `size` bytes is at `path`.
bool sameSizeFileAt(const std::string& path, std::uint64_t size) {
  // An unknown listed size never counts as the same.
  if (size == kUnknownSize) return false;
  if (platform::pathKind(path) != platform::PathKind::file) return false;
  return platform::fileSize(path) == size;
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

FileFetcher::FileFetcher(JobSettings settings, LocalNames& names, FolderMaker makeFolders)
    : settings_(std::move(settings)), names_(names), makeFolders_(std::move(makeFolders)) {}

void FileFetcher::giveUp(std::string reason) { goneReason_ = std::move(reason); }

FileOutcome FileFetcher::handle(FtpLib& ftp, const FtpFileInfo& record, std::size_t position,
                                std::size_t count, FileReport* report, bool mayHandBack) {
  const Say say = [report](std::string text, bool isInfo) {
    return report != nullptr ? report->add(std::move(text), isInfo) : printAndLog(text, isInfo);
  };
  std::string localPath;
  auto failed = [&](std::string text) {
    settings_.record->fileDone(record, localPath, FileState::failed, text);
    say(std::move(text), false);
    return FileOutcome::notSaved;
  };
  std::string display = settings_.fromServer(record.name);
  // A listed name decides where the file lands: one that would leave `local`, or land on a
  // part file, is refused.
  if (!isSafeRelativeName(record.name) || !isSafeRelativeName(display) ||
      isPartFileName(display)) {
    return failed(fmt::format("Unsafe remote name, not downloaded: {}", visibleName(display)));
  }
  // Each remote level becomes a local folder level, named with the native separator.
  std::replace(display.begin(), display.end(), '/', platform::kPathSeparator);
  localPath = settings_.local + display;
  if (!settings_.justPrint && !names_.claim(localPath, record.name)) {
    return failed(fmt::format(
        "Download {} failed: another remote name of this job has the same local name", display));
  }
  if (!settings_.overwrite && sameSizeFileAt(localPath, record.size)) {
    say(fmt::format(" Same size, skiped: {}", display), true);
    settings_.record->fileDone(record, localPath, FileState::skipped);
    return FileOutcome::notSaved;
  }
  if (settings_.justPrint) {
    say(fmt::format(" found {}, last modified: {:s}", display, TickTime{record.modifyTime}), true);
    settings_.record->fileDone(record, localPath, FileState::listed);
    return FileOutcome::notSaved;
  }
  if (!goneReason_.empty() && mayHandBack) return FileOutcome::connectionGone;
  try {
    makeFolders_(localPath);
  } catch (const std::exception& error) {
    return failed(fmt::format("create {} catch {}", localPath, error.what()));
  }
  if (report != nullptr) {
    report->announce(display, position);
  } else {
    printAndLog(fmt::format(" Downloading {} {}/{} ...", display, position, count), true);
  }
  if (!goneReason_.empty()) return failed(fmt::format("Download {} failed: {}", display, goneReason_));
  // Found before the data is asked for, not after it crossed the network.
  if (std::string obstacle = localPathObstacle(localPath); !obstacle.empty()) {
    return failed(fmt::format("Download {} failed: {}", display, obstacle));
  }
  std::string failure;
  Fetched fetched = Fetched::failed;
  if (TransferProgress::visible()) {
    TransferProgress progress(display, record.size);
    ObservedTransfer observed(ftp, progress);
    fetched = fetch(ftp, record, localPath, display, say, failure);
  } else {
    fetched = fetch(ftp, record, localPath, display, say, failure);
  }
  if (fetched == Fetched::saved) settings_.record->fileDone(record, localPath, FileState::saved);
  if (fetched == Fetched::saved) return FileOutcome::saved;
  if (fetched == Fetched::gone && mayHandBack) return FileOutcome::connectionGone;
  return failed(fmt::format("Download {} failed: {}", display, failure));
}

FileFetcher::Fetched FileFetcher::fetch(FtpLib& ftp, const FtpFileInfo& record,
                                        const std::string& localPath, const std::string& display,
                                        const Say& say, std::string& failure) {
  PartFile part(localPath);
  if (!part.create(failure)) return Fetched::failed;
  // Only a binary copy can go on where it stopped: text mode changes the line ends on the way.
  const bool image = settings_.transferMode == 'I';
  std::uint64_t offset = 0;
  if (settings_.resume && image && record.size != kUnknownSize && part.size() < record.size) {
    offset = part.size();
  }
  RetryBudget budget(settings_);
  for (;;) {
    // Without further tries a lost connection stays lost, as it always did.
    const bool keepAsIs = ftp.connected() || settings_.retries == 0;
    Outcome outcome = keepAsIs ? Outcome::success() : reopen(ftp, say, failure);
    const bool sessionOpen = outcome.ok();
    if (sessionOpen) {
      settings_.record->tryStarted(record, offset);
      if (ftp.getFrom(part.path(), record.name, settings_.transferMode, offset)) {
        outcome = shortfall(record, part.size(), failure);
        if (outcome.ok()) break;
      } else {
        outcome = ftp.lastOutcome();
        failure = settings_.failureText(ftp);
      }
    }
    settings_.record->bytesReceived(record, part.size());
    if (!outcome.transient() || !budget.take()) {
      if (!sessionOpen) {
        goneReason_ = failure;
        return Fetched::gone;
      }
      // What arrived stays for a later run to continue, when it would.
      if (settings_.resume && outcome.transient() && image) part.keep();
      return Fetched::failed;
    }
    say(fmt::format(" Retrying {} in {} ({}/{}): {}", display, budget.pauseText(),
                    budget.number(), budget.tries(), failure),
        true);
    budget.pause();
    offset = image ? part.size() : 0;
  }
  settings_.record->bytesReceived(record, part.size());
  return part.commit(failure) ? Fetched::saved : Fetched::failed;
}

Outcome FileFetcher::shortfall(const FtpFileInfo& record, std::uint64_t received,
                               std::string& failure) const {
  // A server may end a transfer early and still call it complete; in image mode the bytes
  // must add up to the listed size (text mode changes line ends, so its size differs). The
  // data connection was cut short: another try may well mend it.
  if (settings_.transferMode != 'I' || record.size == kUnknownSize || received >= record.size) {
    return Outcome::success();
  }
  failure = fmt::format("received {} of {} bytes", received, record.size);
  return Outcome::lost(failure);
}

Outcome FileFetcher::reopen(FtpLib& ftp, const Say& say, std::string& failure) {
  const SessionOpening opening = openSession(ftp, settings_, SessionKind::later);
  if (!opening.ok()) {
    ftp.close();
    failure = opening.failure;
    return opening.outcome;
  }
  say(fmt::format(" Reconnected to {}", settings_.host), true);
  return Outcome::success();
}

}  // namespace marlowick
