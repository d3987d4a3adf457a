#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"

namespace marlowick {

/// The process exit statuses a request can earn when exit codes are asked for; a worse one has
/// the higher number.
enum class RequestStatus {
  done = 0,          ///< every selected file saved or up to date, nothing failed
  logUnavailable = 1,
  invalidArguments = 2,
  notStarted = 3,    ///< connect, TLS, login or the start folder failed
  someFailed = 4,    ///< the job ran, but a file or a folder failed
  deadline = 5,      ///< the job was stopped by its deadline
};

/// What became of one selected file, as the job's record keeps it.
enum class FileState { pending, saved, skipped, failed, listed };

/// The outcomes of one job: each selected file's, each folder that could not be walked, and
/// whether the job started and ran to its end. Fed by the job's connections, each from its own
/// thread, so every entry point takes the record's lock.
class JobRecord {
 public:
  using Clock = std::chrono::steady_clock;

  struct File {
    std::string remote;  ///< the name as listed: the server's bytes, below the start folder
    std::string local;   ///< the local path, empty until the file was handled
    std::uint64_t size = kestrelkit::net::ftp::kUnknownSize;
    std::int64_t modifyTime = kestrelkit::net::ftp::ticks::kUnknownTime;
    FileState state = FileState::pending;
    std::string reason;  ///< why it failed
    std::uint64_t bytes = 0;  ///< received by this run (a resumed file's earlier bytes not)
    int tries = 0;
    double seconds = 0;
    std::uint64_t resumedFrom = 0;
    Clock::time_point firstTry{};
  };
  struct Folder {
    std::string path;
    std::string reason;
  };

  /// One transfer of `file` begins, from byte `offset` (a resumed part file's size, or 0).
  void tryStarted(const kestrelkit::net::ftp::FtpFileInfo& file, std::uint64_t offset);
  /// `held` bytes of `file` are in its part file after the latest try.
  void bytesReceived(const kestrelkit::net::ftp::FtpFileInfo& file, std::uint64_t held);
  /// `file`, meant for `localPath`, ended as `state` (with `reason` when it failed).
  void fileDone(const kestrelkit::net::ftp::FtpFileInfo& file, const std::string& localPath,
                FileState state, std::string reason = {});
  /// The folder `path` could not be listed or walked, for `reason`.
  void folderFailed(std::string path, std::string reason);
  /// The scan's failure notes, each "path: reason" (a note without ": " is all reason).
  void scanErrors(const std::vector<std::string>& notes);
  /// No working session could be opened: the job never started, for `reason`.
  void notStarted(std::string reason);
  /// The job ended early, on an unexpected error (`reason`).
  void aborted(std::string reason);
  /// The job was stopped by its deadline.
  void stoppedByDeadline();
  /// The whole selection of the scan: files that were never handled count as failed.
  void selection(const kestrelkit::net::ftp::FtpFileList& files);

  /// The files in the order they were met, and the failed folders.
  std::vector<File> files() const;
  std::vector<Folder> folders() const;
  std::size_t failedFiles() const;
  std::size_t failedFolders() const;
  /// Why the job did not start or ended early; empty when it ran to its end.
  std::string jobFailure() const;
  /// The status the job earns.
  RequestStatus status() const;

 private:
  File& entry(const kestrelkit::net::ftp::FtpFileInfo& file);

  mutable std::mutex mutex_;
  std::vector<File> files_;
  std::unordered_map<std::string, std::size_t> index_;
  std::vector<Folder> folders_;
  std::string notStarted_;
  std::string aborted_;
  bool deadline_ = false;
};

/// Why nothing more came of a selected file that was never handled.
inline constexpr const char* kNeverHandled = "the job ended before this file was handled";

}  // namespace marlowick
