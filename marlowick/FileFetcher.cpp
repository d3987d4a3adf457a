#include "marlowick/FileFetcher.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <optional>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/ConsoleOutput.h"
#include "marlowick/FileReport.h"
#include "marlowick/PartFile.h"
#include "marlowick/Retrying.h"
#include "marlowick/SafeName.h"
#include "marlowick/SessionOpening.h"
#include "marlowick/TickTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace marlowick {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpLib;
using kestrelkit::net::ftp::kUnknownSize;
namespace ticks = kestrelkit::net::ftp::ticks;
using platform::Outcome;

namespace {

/// True when a file (not a folder) of exactly `size` bytes is at `path`.
bool sameSizeFileAt(const std::string& path, std::uint64_t size) {
  // An unknown listed size never counts as the same.
  if (size == kUnknownSize) return false;
  if (platform::pathKind(path) != platform::PathKind::file) return false;
  return platform::fileSize(path) == size;
}

/// True when the part file may be continued: shorter than the listed file, and written no
/// earlier than the listed modification time. A listing gives that time to the minute, or only
/// to the day for older files, rounded down, so a part file written within the listed minute
/// or day counts as not older. An unknown time cannot show that the file is unchanged, and the
/// old head with a new tail would be saved as right: such a file starts afresh.
bool holdsUnchangedStart(const PartFile& part, const FtpFileInfo& record) {
  if (record.size == kUnknownSize || part.size() >= record.size) return false;
  if (record.modifyTime == ticks::kUnknownTime) return false;
  const std::optional<std::int64_t> written = platform::modifiedTime(part.path());
  if (!written) return false;
  const std::int64_t writtenAt = ticks::fromUnixSecondsOrUnknown(*written);
  return writtenAt != ticks::kUnknownTime && writtenAt >= record.modifyTime;
}

/// True when the file at `path` is as the listing shows it: of the listed size and not older
/// than the listed time. A LIST time is the start of its minute or day, so a file given that time
/// by an earlier run is not older. A size or time the listing does not give shows nothing.
bool unchangedFileAt(const std::string& path, const FtpFileInfo& record) {
  if (!sameSizeFileAt(path, record.size) || record.modifyTime == ticks::kUnknownTime) {
    return false;
  }
  const std::optional<std::int64_t> written = platform::modifiedTime(path);
  return written && ticks::fromUnixSecondsOrUnknown(*written) >= record.modifyTime;
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
  // The file gets its name as listed; what is shown and logged of it never has control bytes
  // that a terminal would obey.
  const std::string shown = visibleName(display);
  if (!settings_.justPrint && !names_.claim(localPath, record.name)) {
    return failed(fmt::format(
        "Download {} failed: another remote name of this job has the same local name", shown));
  }
  if (settings_.newer && unchangedFileAt(localPath, record)) {
    say(fmt::format(" Unchanged, skipped: {}", shown), true);
    settings_.record->fileDone(record, localPath, FileState::skipped);
    return FileOutcome::notSaved;
  }
  // With `newer` a file of the same size may still have changed: that rule decides alone.
  if (!settings_.newer && !settings_.overwrite && sameSizeFileAt(localPath, record.size)) {
    say(fmt::format(" Same size, skiped: {}", shown), true);
    settings_.record->fileDone(record, localPath, FileState::skipped);
    return FileOutcome::notSaved;
  }
  if (settings_.justPrint) {
    say(fmt::format(" found {}, last modified: {:s}", shown, TickTime{record.modifyTime}), true);
    settings_.record->fileDone(record, localPath, FileState::listed);
    return FileOutcome::notSaved;
  }
  // A file not yet started when the job's end has come is not started.
  if (settings_.deadlinePassed()) {
    return failed(fmt::format("Download {} failed: {}", shown, platform::kDeadlineReached));
  }
  if (!goneReason_.empty() && mayHandBack) return FileOutcome::connectionGone;
  try {
    makeFolders_(localPath);
  } catch (const std::exception& error) {
    return failed(
        fmt::format("create {} catch {}", visibleName(localPath), visibleName(error.what())));
  }
  if (report != nullptr) {
    report->announce(shown, position);
  } else {
    printAndLog(fmt::format(" Downloading {} {}/{} ...", shown, position, count), true);
  }
  if (!goneReason_.empty()) {
    return failed(fmt::format("Download {} failed: {}", shown, goneReason_));
  }
  // Found before the data is asked for, not after it crossed the network.
  if (std::string obstacle = localPathObstacle(localPath); !obstacle.empty()) {
    return failed(fmt::format("Download {} failed: {}", shown, obstacle));
  }
  std::string failure;
  Fetched fetched = Fetched::failed;
  progress_ = nullptr;
  if (TransferProgress::visible()) {
    TransferProgress progress(shown, record.size);
    ObservedTransfer observed(ftp, progress);
    progress_ = &progress;
    fetched = fetch(ftp, record, localPath, shown, say, failure);
    progress_ = nullptr;
  } else {
    fetched = fetch(ftp, record, localPath, shown, say, failure);
  }
  if (fetched == Fetched::saved) settings_.record->fileDone(record, localPath, FileState::saved);
  if (fetched == Fetched::saved) return FileOutcome::saved;
  if (fetched == Fetched::gone && mayHandBack) return FileOutcome::connectionGone;
  return failed(fmt::format("Download {} failed: {}", shown, failure));
}

FileFetcher::Fetched FileFetcher::fetch(FtpLib& ftp, const FtpFileInfo& record,
                                        const std::string& localPath, const std::string& display,
                                        const Say& say, std::string& failure) {
  PartFile part(localPath);
  if (!part.create(failure)) return Fetched::failed;
  // Only a binary copy can go on where it stopped: text mode changes the line ends on the way.
  const bool image = settings_.transferMode == 'I';
  std::uint64_t offset = 0;
  if (settings_.resume && image && holdsUnchangedStart(part, record)) offset = part.size();
  if (offset > 0) {
    say(fmt::format(" Resuming {} at {} bytes", display, offset), true);
    if (progress_ != nullptr) progress_->resumedAt(offset);
  }
  Retrying retrying(settings_, kFetching);
  const auto info = [&say](const std::string& line) { say(line, true); };
  for (;;) {
    // Without further tries a lost connection stays lost, as it always did.
    const bool keepAsIs = ftp.connected() || settings_.retries == 0;
    Outcome outcome = keepAsIs ? Outcome::success() : reopen(ftp, info, failure);
    const bool sessionOpen = outcome.ok();
    if (sessionOpen) {
      const std::uint64_t from = offset;
      settings_.record->tryStarted(record, offset);
      if (ftp.getInto(part.file(), record.name, settings_.transferMode, offset)) {
        if (from > 0 && offset > 0 && pastTheEnd(record, part.size())) {
          // The server took the restart point and sent the file from its start all the same:
          // what arrived is not the file. It comes again whole, and nothing is restarted again.
          ftp.setRestartsAllowed(false);
          info(fmt::format(
              " Fetching {} again from its start: the server ignored the restart point", display));
          offset = 0;
          continue;
        }
        outcome = shortfall(record, part.size(), failure);
        if (outcome.ok()) break;
      } else {
        outcome = ftp.lastOutcome();
        failure = settings_.failureText(ftp);
      }
    }
    settings_.record->bytesReceived(record, part.size());
    if (!retrying.again(outcome, display, failure, info)) {
      // Stopped by the job's end, what arrived stays for a later run to continue.
      if (outcome.transient() && retrying.deadlineReached()) {
        failure = platform::kDeadlineReached;
        if (image) part.keep();
        return Fetched::failed;
      }
      if (!sessionOpen) {
        if (settings_.resume && image) part.keep();
        goneReason_ = failure;
        return Fetched::gone;
      }
      // What arrived stays for a later run to continue, when it would.
      if (settings_.resume && outcome.transient() && image) part.keep();
      return Fetched::failed;
    }
    offset = image ? part.size() : 0;
  }
  settings_.record->bytesReceived(record, part.size());
  if (!part.commit(failure)) return Fetched::failed;
  // An unknown time leaves the file's own.
  if (settings_.keeptime && record.modifyTime != ticks::kUnknownTime) {
    failure = platform::setModifiedTime(
        localPath, (record.modifyTime - ticks::kUnixEpoch) / ticks::kPerSecond);
    if (!failure.empty()) {
      failure = "its listed time could not be set: " + failure;
      return Fetched::failed;
    }
  }
  return Fetched::saved;
}

bool FileFetcher::pastTheEnd(const FtpFileInfo& record, std::uint64_t received) const {
  return settings_.transferMode == 'I' && record.size != kUnknownSize && received > record.size;
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

Outcome FileFetcher::reopen(FtpLib& ftp, const std::function<void(const std::string&)>& say,
                            std::string& failure) {
  const SessionOpening opening = reopenSession(ftp, settings_, say);
  if (!opening.ok()) failure = opening.failure;
  return opening.outcome;
}

}  // namespace marlowick
