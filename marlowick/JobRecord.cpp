#include "marlowick/JobRecord.h"

#include <algorithm>
#include <string_view>

namespace marlowick {

using kestrelkit::net::ftp::FtpFileInfo;

JobRecord::File& JobRecord::entry(const FtpFileInfo& file) {
  auto [found, added] = index_.try_emplace(file.name, files_.size());
  if (added) {
    File fresh;
    fresh.remote = file.name;
    fresh.size = file.size;
    fresh.modifyTime = file.modifyTime;
    files_.push_back(std::move(fresh));
  }
  return files_[found->second];
}

void JobRecord::tryStarted(const FtpFileInfo& file, std::uint64_t offset) {
  std::lock_guard<std::mutex> guard(mutex_);
  File& each = entry(file);
  if (each.tries++ == 0) {
    each.firstTry = Clock::now();
    each.resumedFrom = offset;
  }
}

void JobRecord::bytesReceived(const FtpFileInfo& file, std::uint64_t held) {
  std::lock_guard<std::mutex> guard(mutex_);
  File& each = entry(file);
  // What this run received: a resumed file held its first bytes already.
  each.bytes = held > each.resumedFrom ? held - each.resumedFrom : 0;
}

void JobRecord::fileDone(const FtpFileInfo& file, const std::string& localPath, FileState state,
                         std::string reason) {
  std::lock_guard<std::mutex> guard(mutex_);
  File& each = entry(file);
  each.local = localPath;
  each.state = state;
  each.reason = std::move(reason);
  if (each.tries > 0) {
    each.seconds = std::chrono::duration<double>(Clock::now() - each.firstTry).count();
  }
}

void JobRecord::folderFailed(std::string path, std::string reason) {
  std::lock_guard<std::mutex> guard(mutex_);
  folders_.push_back({std::move(path), std::move(reason)});
}

void JobRecord::scanErrors(const std::vector<std::string>& notes) {
  // The scan's notes read "Listing of PATH failed: REASON", "Listing of PATH: REASON" or
  // "PATH: REASON".
  constexpr std::string_view kListing = "Listing of ";
  constexpr std::string_view kFailed = " failed";
  for (const std::string& note : notes) {
    const std::size_t colon = note.find(": ");
    if (colon == std::string::npos) {
      folderFailed(std::string(), note);
      continue;
    }
    std::string_view path(note.data(), colon);
    if (path.substr(0, kListing.size()) == kListing) {
      path.remove_prefix(kListing.size());
      if (path.size() >= kFailed.size() && path.substr(path.size() - kFailed.size()) == kFailed) {
        path.remove_suffix(kFailed.size());
      }
    }
    folderFailed(std::string(path), note.substr(colon + 2));
  }
}

void JobRecord::notStarted(std::string reason) {
  std::lock_guard<std::mutex> guard(mutex_);
  notStarted_ = std::move(reason);
}

void JobRecord::aborted(std::string reason) {
  std::lock_guard<std::mutex> guard(mutex_);
  aborted_ = std::move(reason);
}

void JobRecord::stoppedByDeadline() {
  std::lock_guard<std::mutex> guard(mutex_);
  deadline_ = true;
}

void JobRecord::selection(const kestrelkit::net::ftp::FtpFileList& files) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (const FtpFileInfo& file : files) {
    File& each = entry(file);
    if (each.state == FileState::pending) {
      each.state = FileState::failed;
      each.reason = kNeverHandled;
    }
  }
}

std::vector<JobRecord::File> JobRecord::files() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return files_;
}

std::vector<JobRecord::Folder> JobRecord::folders() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return folders_;
}

std::size_t JobRecord::failedFiles() const {
  std::lock_guard<std::mutex> guard(mutex_);
  // A file still pending was never finished: it is not counted whole.
  return static_cast<std::size_t>(std::count_if(files_.begin(), files_.end(), [](const File& f) {
    return f.state == FileState::failed || f.state == FileState::pending;
  }));
}

std::size_t JobRecord::failedFolders() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return folders_.size();
}

std::string JobRecord::jobFailure() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return notStarted_.empty() ? aborted_ : notStarted_;
}

RequestStatus JobRecord::status() const {
  const bool failed = failedFiles() > 0 || failedFolders() > 0;
  std::lock_guard<std::mutex> guard(mutex_);
  // The worst that happened wins: a stopped job may also have failed files.
  if (deadline_) return RequestStatus::deadline;
  if (failed || !aborted_.empty()) return RequestStatus::someFailed;
  if (!notStarted_.empty()) return RequestStatus::notStarted;
  return RequestStatus::done;
}

}  // namespace marlowick
