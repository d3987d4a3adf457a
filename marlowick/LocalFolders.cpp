#include "marlowick/LocalFolders.h"

#include <mutex>
#include <stdexcept>
#include <unordered_set>

#include "marlowick/Downloader.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace marlowick {
namespace {

/// Folders made or found to exist, for the whole process: every job of an interactive run
/// shares it and it is never emptied, so each folder is looked at once per process.
std::unordered_set<std::string>& createdFolders() {
  static std::unordered_set<std::string> folders;
  return folders;
}

// Guards the record, and makes looking a folder up, making it and recording it one step when
// several connections of a job make folders at once.
std::recursive_mutex& foldersLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace

void createFoldersFor(const std::string& localPath) {
  std::lock_guard<std::recursive_mutex> guard(foldersLock());
  for (std::size_t at = localPath.find(platform::kPathSeparator); at != std::string::npos;
       at = localPath.find(platform::kPathSeparator, at + 1)) {
    std::string folder = localPath.substr(0, at);
    if (!folderRecorded(folder)) ensureFolder(folder);
  }
}

bool forgetVanishedFolder(const std::string& localPath) {
  std::lock_guard<std::recursive_mutex> guard(foldersLock());
  const std::size_t end = localPath.rfind(platform::kPathSeparator);
  if (end == std::string::npos) return false;
  const std::string folder = localPath.substr(0, end);
  if (!folderRecorded(folder) || platform::pathKind(folder) != platform::PathKind::missing) {
    return false;
  }
  for (std::size_t at = localPath.find(platform::kPathSeparator); at != std::string::npos;
       at = localPath.find(platform::kPathSeparator, at + 1)) {
    createdFolders().erase(localPath.substr(0, at));
  }
  return true;
}

void Downloader::createFolders(const std::string& localPath) { createFoldersFor(localPath); }

void ensureFolder(const std::string& folder) {
  std::lock_guard<std::recursive_mutex> guard(foldersLock());
  // A path starting at the root yields an empty first prefix: nothing to make.
  if (folder.empty()) return;
  switch (platform::pathKind(folder)) {
    case platform::PathKind::folder:
      break;
    case platform::PathKind::missing: {
      std::string reason;
      if (!platform::makeFolder(folder, &reason)) throw std::runtime_error(folder + ": " + reason);
      break;
    }
    default:
      throw std::runtime_error("Path.createPath :: file/folder conflict: " + folder);
  }
  // Only a folder that is there now is recorded; a failing one is tried again for the next file.
  createdFolders().insert(folder);
}

bool folderRecorded(const std::string& folder) {
  std::lock_guard<std::recursive_mutex> guard(foldersLock());
  return createdFolders().count(folder) != 0;
}

}  // namespace marlowick
