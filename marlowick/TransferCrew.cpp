#include "marlowick/TransferCrew.h"

#include <fmt/format.h>

#include <algorithm>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/ConsoleOutput.h"
#include "marlowick/SessionOpening.h"

namespace marlowick {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpLib;

TransferCrew::TransferCrew(const JobSettings& settings, int extra, LocalNames& names,
                           FileFetcher::FolderMaker makeFolders, std::uint32_t& savedCount,
                           ListingAhead* ahead)
    : settings_(settings),
      total_(extra + 1),
      names_(names),
      makeFolders_(std::move(makeFolders)),
      savedCount_(savedCount),
      ahead_(ahead),
      alive_(extra + 1) {
  if (ahead_ != nullptr) {
    ahead_->setWake([this] {
      // Taken and given up, so that a connection about to wait cannot miss the news.
      { std::lock_guard<std::mutex> guard(mutex_); }
      changed_.notify_all();
    });
  }
  threads_.reserve(static_cast<std::size_t>(extra));
  // Connection 1 is the job's own; these are 2 to `total_`.
  for (int number = 2; number <= total_; ++number) {
    threads_.emplace_back([this, number] { serve(number); });
  }
}

TransferCrew::~TransferCrew() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    dismissed_ = true;
  }
  changed_.notify_all();
  joinAll();
  if (ahead_ != nullptr) ahead_->setWake(nullptr);
  // Reached without `run` (the job ended before its transfers): what was fetched meanwhile
  // still counts and is reported.
  if (!scanned_) endScan(taken_);
  savedCount_ += saved_.exchange(0);
}

void TransferCrew::joinAll() {
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

FileFetcher TransferCrew::makeFetcher() const {
  return FileFetcher(settings_, names_, makeFolders_);
}

void TransferCrew::offer(FtpFileInfo record) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    queue_.push_back(Task{std::move(record), 0, {}});
  }
  changed_.notify_one();
}

void TransferCrew::endScan(std::size_t count) {
  std::vector<Held> held;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    scanned_ = true;
    count_ = count;
    held.swap(held_);
  }
  changed_.notify_all();
  std::sort(held.begin(), held.end(),
            [](const Held& a, const Held& b) { return a.position < b.position; });
  for (const Held& done : held) done.report.report(count);
}

void TransferCrew::run(FtpLib& first, std::size_t count) {
  endScan(count);
  FileFetcher fetcher = makeFetcher();
  work(first, fetcher);
  joinAll();
  // Counted before a failure is passed on: the files saved so far stay saved.
  savedCount_ += saved_.exchange(0);
  if (failure_) std::rethrow_exception(failure_);
}

void TransferCrew::serve(int number) {
  // The connection lives and ends on this thread; destroying it closes it without a word.
  FtpLib ftp;
  // Folders listed here stand in for the first connection's listings: listed the same way.
  if (ahead_ != nullptr) ftp.setMlsdAllowed(ahead_->byMlsd());
  FileFetcher fetcher = makeFetcher();
  SessionOpening opening;
  try {
    opening = openSessionWithRetries(ftp, settings_, SessionKind::later);
  } catch (const std::exception& error) {
    opening.outcome = platform::Outcome::local(error.what());
    opening.failure = error.what();
  }
  if (!opening.ok()) {
    printAndLog(fmt::format("Connection {} of {} not used: {}", number, total_, opening.failure),
                false);
    if (leave(nullptr)) return;
    // The others are gone already: what is left fails here, so that the job ends.
    fetcher.giveUp(opening.failure);
  }
  work(ftp, fetcher);
}

TransferCrew::Work TransferCrew::take(Task& task, std::optional<ListingAhead::Claim>& listing) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // A file in hand elsewhere may still come back: the work is over only when none is.
    changed_.wait(lock, [this] {
      return stopping_.load() || dismissed_ || !queue_.empty() || (scanned_ && busy_ == 0) ||
             (ahead_ != nullptr && ahead_->ready());
    });
    if (stopping_.load() || dismissed_) break;
    if (takeQueued(task)) return Work::file;
    if (ahead_ != nullptr && (listing = ahead_->claim())) return Work::listing;
    if (scanned_ && busy_ == 0) break;
  }
  --alive_;
  return Work::none;
}

bool TransferCrew::takeQueued(Task& task) {
  if (queue_.empty()) return false;
  task = std::move(queue_.front());
  queue_.pop_front();
  if (task.position == 0) task.position = ++taken_;
  ++busy_;
  return true;
}

bool TransferCrew::fetchMeanwhile(FtpLib& first) {
  Task task;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (scanConnectionLost_ || stopping_.load() || dismissed_ || !takeQueued(task)) return false;
  }
  if (!scanFetcher_) scanFetcher_.emplace(makeFetcher());
  return fetch(first, *scanFetcher_, task, false);
}

bool TransferCrew::listAhead(FtpLib& ftp, const ListingAhead::Claim& claim) {
  if (ahead_->list(ftp, claim) || ftp.connected()) return true;
  // The walk lists that folder itself; this connection comes back for the next one, or leaves.
  const auto info = [](const std::string& line) { printAndLog(line, true); };
  const SessionOpening opening = reopenSession(ftp, settings_, info);
  if (opening.ok()) return true;
  info(fmt::format(" Reconnect to {} failed: {}", settings_.host, opening.failure));
  return !leave(nullptr);
}

void TransferCrew::finished() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    --busy_;
  }
  changed_.notify_all();
}

bool TransferCrew::othersAlive() {
  std::lock_guard<std::mutex> guard(mutex_);
  return alive_ > 1;
}

bool TransferCrew::leave(Task* task) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (alive_ <= 1) return false;
    --alive_;
    if (task != nullptr) {
      queue_.push_front(std::move(*task));
      --busy_;
    }
  }
  changed_.notify_all();
  return true;
}

void TransferCrew::deliver(std::size_t position, FileReport report) {
  std::size_t count = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!scanned_) {
      held_.push_back({position, std::move(report)});
      return;
    }
    count = count_;
  }
  report.report(count);
}

void TransferCrew::work(FtpLib& ftp, FileFetcher& fetcher) {
  Task task;
  std::optional<ListingAhead::Claim> listing;
  for (Work next; (next = take(task, listing)) != Work::none;) {
    if (next == Work::listing) {
      if (!listAhead(ftp, *listing)) return;
      continue;
    }
    if (!fetch(ftp, fetcher, task, true)) return;
  }
}

bool TransferCrew::fetch(FtpLib& ftp, FileFetcher& fetcher, Task& task, bool mayLeave) {
  try {
    // The scan's connection hands its file back whenever it is lost, as it cannot leave: the
    // scan goes on over it, and `run` finds the file in the queue when no other connection is
    // left.
    FileOutcome outcome = fetcher.handle(ftp, task.record, task.position, 0, &task.report,
                                         !mayLeave || othersAlive());
    if (outcome == FileOutcome::connectionGone && !mayLeave) {
      {
        std::lock_guard<std::mutex> guard(mutex_);
        scanConnectionLost_ = true;
        queue_.push_front(std::move(task));
        --busy_;
      }
      changed_.notify_all();
      return false;
    }
    if (outcome == FileOutcome::connectionGone) {
      if (leave(&task)) return false;
      // The others went meanwhile: this connection is the last and ends the job.
      outcome = fetcher.handle(ftp, task.record, task.position, 0, &task.report, false);
    }
    if (outcome == FileOutcome::saved) ++saved_;
  } catch (...) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (!failure_) failure_ = std::current_exception();
      stopping_ = true;
    }
    changed_.notify_all();
    deliver(task.position, std::move(task.report));
    return false;
  }
  deliver(task.position, std::move(task.report));
  finished();
  return true;
}

}  // namespace marlowick
