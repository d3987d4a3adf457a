#include "marlowick/TransferCrew.h"

#include <fmt/format.h>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/Downloader.h"
#include "marlowick/Util.h"

namespace marlowick {

using kestrelkit::net::ftp::FtpLib;

TransferCrew::TransferCrew(Downloader& job, int extra) : job_(job), total_(extra + 1) {
  threads_.reserve(static_cast<std::size_t>(extra));
  // Connection 1 is the job's own; these are 2 to `total_`.
  for (int number = 2; number <= total_; ++number) {
    threads_.emplace_back([this, number] { serve(number); });
  }
}

TransferCrew::~TransferCrew() {
  dismiss();
  for (std::thread& thread : threads_) thread.join();
}

void TransferCrew::dismiss() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (phase_ == Phase::opening) phase_ = Phase::dismissed;
  phaseChanged_.notify_all();
}

void TransferCrew::run(FtpLib& first) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    phase_ = Phase::working;
  }
  phaseChanged_.notify_all();
  work(first);
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  // Counted before a failure is passed on: the files saved so far stay saved.
  job_.savedCount += saved_.load();
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
  if (awaitWork()) work(ftp);
}

bool TransferCrew::awaitWork() {
  std::unique_lock<std::mutex> lock(mutex_);
  phaseChanged_.wait(lock, [this] { return phase_ != Phase::opening; });
  return phase_ == Phase::working;
}

void TransferCrew::work(FtpLib& ftp) {
  const std::vector<kestrelkit::net::ftp::FtpFileInfo>& files = job_.files;
  while (!stopping_.load()) {
    const std::size_t index = next_.fetch_add(1);
    if (index >= files.size()) return;
    MessageBatch batch;
    try {
      if (job_.handleOneFile(ftp, files[index], index + 1, files.size(), &batch)) ++saved_;
    } catch (...) {
      batch.report();
      std::lock_guard<std::mutex> guard(mutex_);
      if (!failure_) failure_ = std::current_exception();
      stopping_ = true;
      return;
    }
    batch.report();
  }
}

}  // namespace marlowick
