#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "marlowick/FileFetcher.h"
#include "marlowick/FileReport.h"
#include "marlowick/JobSettings.h"
#include "marlowick/ListingAhead.h"

namespace kestrelkit::net::ftp {
class FtpLib;
}

namespace marlowick {

/// The control connections of a job beyond its first. Each is opened on a thread of its own as
/// soon as the crew is made; one that cannot be opened is dropped with one error line. While the
/// first connection scans, the scan `offer`s each file it selects, in walk order, and the open
/// extra connections start fetching at once; `run` then lets the first connection join in.
/// A connection that is lost for good stops taking files and hands back the one it held, so
/// that the others finish the job; the last one left fails what remains. Each file's messages
/// are reported together once it is done and the count is known. With a `ListingAhead`, a
/// connection that has no file to fetch lists the folders it hands out: files come first.
class TransferCrew {
 public:
  /// Starts `extra` threads, each opening one connection as `settings` say. Files go through
  /// fetchers sharing `names` and `makeFolders`; each file saved adds one to `savedCount`, at
  /// the end of `run` or, when `run` is not reached, when the crew goes. `ahead`, when given,
  /// must outlive the crew.
  TransferCrew(const JobSettings& settings, int extra, LocalNames& names,
               FileFetcher::FolderMaker makeFolders, std::uint32_t& savedCount,
               ListingAhead* ahead = nullptr);
  /// Lets threads that are waiting for work go, waits for every thread, and reports what they
  /// did, when `run` was not reached.
  ~TransferCrew();
  TransferCrew(const TransferCrew&) = delete;
  TransferCrew& operator=(const TransferCrew&) = delete;

  /// The scan selected `record`, the next file in walk order.
  void offer(kestrelkit::net::ftp::FtpFileInfo record);

  /// While the scan waits for a listing under way on another connection, fetches the next file
  /// over `first`, the scan's own connection; false when there was none (or the job is
  /// stopping). A file it cannot fetch for a lost connection goes back to the others, and the
  /// scan's connection fetches nothing more until `run`.
  bool fetchMeanwhile(kestrelkit::net::ftp::FtpLib& first);

  /// The scan is over, with `count` files selected: fetches the rest over `first` and the extra
  /// connections. When fetching a file raises an error, no further file is started and the
  /// first such error is raised again here, after every thread has stopped.
  void run(kestrelkit::net::ftp::FtpLib& first, std::size_t count);

 private:
  struct Task {
    kestrelkit::net::ftp::FtpFileInfo record;
    std::size_t position = 0;  // 0 until taken the first time
    FileReport report;         // what was said of it on a connection that handed it back
  };
  struct Held {
    std::size_t position;
    FileReport report;
  };

  /// What a connection is to do next.
  enum class Work { none, file, listing };

  void serve(int number);
  void work(kestrelkit::net::ftp::FtpLib& ftp, FileFetcher& fetcher);
  /// The next file, or else a folder to list ahead, waiting while the scan may still offer one;
  /// `none` when there is nothing left or the job is stopping, and the connection then takes no
  /// more.
  Work take(Task& task, std::optional<ListingAhead::Claim>& listing);
  /// Lists the claimed folder ahead; false when the connection was lost for good and has left.
  bool listAhead(kestrelkit::net::ftp::FtpLib& ftp, const ListingAhead::Claim& claim);
  /// Takes the next file, if one waits; under the lock.
  bool takeQueued(Task& task);
  /// Fetches `task` over `ftp`; false when the connection takes no more files: it left, handing
  /// the file back, or fetching raised an error, kept for `run`. `mayLeave`: the connection may
  /// leave the job when it is lost for good.
  bool fetch(kestrelkit::net::ftp::FtpLib& ftp, FileFetcher& fetcher, Task& task, bool mayLeave);
  /// The caller is done with the file it took.
  void finished();
  /// True when a connection other than the caller's still takes files.
  bool othersAlive();
  /// The caller's connection is lost for good: hands `task` (if any) back and returns true when
  /// another connection still takes files; false for the last one, which must finish the job.
  bool leave(Task* task);
  void deliver(std::size_t position, FileReport report);
  void endScan(std::size_t count);
  void joinAll();
  FileFetcher makeFetcher() const;

  JobSettings settings_;
  int total_;
  LocalNames& names_;
  FileFetcher::FolderMaker makeFolders_;
  std::uint32_t& savedCount_;
  ListingAhead* ahead_;
  std::vector<std::thread> threads_;
  /// The scan's connection's fetcher while the scan goes on; gone once that connection was lost.
  std::optional<FileFetcher> scanFetcher_;
  bool scanConnectionLost_ = false;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> queue_;
  std::size_t taken_ = 0;
  bool scanned_ = false;
  bool dismissed_ = false;
  std::size_t count_ = 0;
  /// Connections still taking files (those still being opened included).
  int alive_ = 0;
  /// Files taken and not yet done (a lost connection may hand its file back).
  int busy_ = 0;
  std::vector<Held> held_;
  std::exception_ptr failure_;

  std::atomic<std::uint32_t> saved_{0};
  std::atomic<bool> stopping_{false};
};

}  // namespace marlowick
