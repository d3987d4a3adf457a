#include "marlowick/TransferCrew.h"

#include <fmt/format.h>

#include <algorithm>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/Downloader.h"
#include "marlowick/ConsoleOutput.h"

namespace marlowick {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpLib;

bool FileReport::add(std::string text, bool isInfo) {
  entries_.push_back({std::move(text), isInfo, 0});
  return isInfo;
}

void FileReport::announce(std::string display, std::size_t position) {
  entries_.push_back({std::move(display), true, position});
}

void FileReport::report(std::size_t count) const {
  MessageBatch batch;
  for (const Entry& entry : entries_) {
    if (entry.position == 0) {
      batch.add(entry.text, entry.isInfo);
    } else {
      batch.add(fmt::format(" Downloading {} {}/{} ...", entry.text, entry.position, count), true);
    }
  }
  batch.report();
}

TransferCrew::TransferCrew(Downloader& job, int extra) : job_(job), total_(extra + 1) {
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
  // Reached without `run` (the job ended before its transfers): what was fetched meanwhile
  // still counts and is reported.
  if (!scanned_) endScan(taken_);
  job_.savedCount += saved_.exchange(0);
}

void TransferCrew::joinAll() {
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

void TransferCrew::offer(FtpFileInfo record) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    queue_.push_back(std::move(record));
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
  work(first);
  joinAll();
  // Counted before a failure is passed on: the files saved so far stay saved.
  job_.savedCount += saved_.exchange(0);
  if (failure_) std::rethrow_exception(failure_);
}

void TransferCrew::serve(int number) {
  // The connection lives and ends on this thread; destroying it closes it without a word.
  FtpLib ftp;
  std::string failure;
  bool open = false;
  try {
    open = job_.openExtraConnection(ftp, failure);
  } catch (const std::exception& error) {
    failure = error.what();
  }
  if (!open) {
    printAndLog(fmt::format("Connection {} of {} not used: {}", number, total_, failure), false);
    return;
  }
  work(ftp);
}

// The next file in walk order, waiting while the scan may still offer one; false when there is
// none left or the job is stopping.
bool TransferCrew::take(Task& task) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock,
                [this] { return stopping_.load() || dismissed_ || scanned_ || !queue_.empty(); });
  if (stopping_.load() || dismissed_ || queue_.empty()) return false;
  task.record = std::move(queue_.front());
  queue_.pop_front();
  task.position = ++taken_;
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

void TransferCrew::work(FtpLib& ftp) {
  Task task;
  while (take(task)) {
    FileReport report;
    try {
      if (job_.handleOneFile(ftp, task.record, task.position, 0, &report)) ++saved_;
    } catch (...) {
      {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!failure_) failure_ = std::current_exception();
        stopping_ = true;
      }
      changed_.notify_all();
      deliver(task.position, std::move(report));
      return;
    }
    deliver(task.position, std::move(report));
  }
}

}  // namespace marlowick
