#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"

namespace kestrelkit::net::ftp {
class FtpLib;
}

namespace marlowick {

class Downloader;

/// The messages of one file fetched alongside others, kept until they can be reported together.
/// The file's announcement names its position among all selected files, which is only known
/// once the scan is over: it is written out then.
class FileReport {
 public:
  /// Keeps one message; returns `isInfo`, like `printAndLog`.
  bool add(std::string text, bool isInfo);
  /// Keeps the " Downloading {} {}/{} ..." announcement of the file at `position`.
  void announce(std::string display, std::size_t position);
  /// Reports every kept message through `printAndLog`, in order and without another thread's
  /// line in between, with `count` selected files in all.
  void report(std::size_t count) const;

 private:
  struct Entry {
    std::string text;
    bool isInfo;
    std::size_t position;  // of an announcement; 0 for a plain message
  };
  std::vector<Entry> entries_;
};

/// The control connections of a job beyond its first. Each is opened on a thread of its own as
/// soon as the crew is made; one that cannot be opened is dropped with one error line. While the
/// first connection scans, the scan `offer`s each file it selects, in walk order, and the open
/// extra connections start fetching at once; `run` then lets the first connection join in.
/// Each file's messages are reported together once it is done and the count is known.
class TransferCrew {
 public:
  /// Starts `extra` threads, each opening one connection for `job`.
  TransferCrew(Downloader& job, int extra);
  /// Lets threads that are waiting for work go, waits for every thread, and reports what they
  /// did, when `run` was not reached.
  ~TransferCrew();
  TransferCrew(const TransferCrew&) = delete;
  TransferCrew& operator=(const TransferCrew&) = delete;

  /// The scan selected `record`, the next file in walk order.
  void offer(kestrelkit::net::ftp::FtpFileInfo record);

  /// The scan is over, with `count` files selected: fetches the rest over `first` and the extra
  /// connections and adds the files saved to the job's `savedCount`. When fetching a file raises
  /// an error, no further file is started and the first such error is raised again here, after
  /// every thread has stopped and the count is in.
  void run(kestrelkit::net::ftp::FtpLib& first, std::size_t count);

 private:
  struct Task {
    kestrelkit::net::ftp::FtpFileInfo record;
    std::size_t position = 0;
  };
  struct Held {
    std::size_t position;
    FileReport report;
  };

  void serve(int number);
  void work(kestrelkit::net::ftp::FtpLib& ftp);
  bool take(Task& task);
  void deliver(std::size_t position, FileReport report);
  void endScan(std::size_t count);
  void joinAll();

  Downloader& job_;
  int total_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<kestrelkit::net::ftp::FtpFileInfo> queue_;
  std::size_t taken_ = 0;
  bool scanned_ = false;
  bool dismissed_ = false;
  std::size_t count_ = 0;
  std::vector<Held> held_;
  std::exception_ptr failure_;

  std::atomic<std::uint32_t> saved_{0};
  std::atomic<bool> stopping_{false};
};

}  // namespace marlowick
