#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrelkit::net::ftp {
class FtpLib;
}

namespace marlowick {

class Downloader;

/// The control connections of a job beyond its first. Each is opened on a thread of its own as
/// soon as the crew is made (while the first connection scans); one that cannot be opened is
/// dropped with one error line. `run` then hands the job's selected files out in walk order to
/// the first connection, on the caller's thread, and to every extra connection that is open.
/// Each file's messages are reported together once it is done.
class TransferCrew {
 public:
  /// Starts `extra` threads, each opening one connection for `job`.
  TransferCrew(Downloader& job, int extra);
  /// Lets threads that never got work go, and waits for every thread.
  ~TransferCrew();
  TransferCrew(const TransferCrew&) = delete;
  TransferCrew& operator=(const TransferCrew&) = delete;

  /// Fetches every record of the job's `files`, `first` among the connections, and adds the
  /// files saved to the job's `savedCount`. When fetching a file raises an error, no further
  /// file is started and the first such error is raised again here, after every thread has
  /// stopped and the count is in.
  void run(kestrelkit::net::ftp::FtpLib& first);

 private:
  enum class Phase { opening, working, dismissed };

  void serve(int number);
  void work(kestrelkit::net::ftp::FtpLib& ftp);
  bool awaitWork();
  void dismiss();

  Downloader& job_;
  int total_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable phaseChanged_;
  Phase phase_ = Phase::opening;
  std::exception_ptr failure_;

  std::atomic<std::size_t> next_{0};
  std::atomic<std::uint32_t> saved_{0};
  std::atomic<bool> stopping_{false};
};

}  // namespace marlowick
