#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

namespace marlowick {

/// The local files of one job and the remote name each was claimed for, so that two different
/// remote names (which the conversion to local text may have made alike) never end in the same
/// local file. Claims may come from several connections of the job at once.
class LocalNames {
 public:
  LocalNames() = default;
  LocalNames(const LocalNames& other);
  LocalNames& operator=(const LocalNames& other);

  /// Claims `localPath` for `remoteName`. False when another remote name claimed it, or a path
  /// the file system takes for the same file (on Windows one differing in letter case), first.
  bool claim(const std::string& localPath, const std::string& remoteName);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::string> owners_;
};

/// The reason, in the system's words, why no file can be saved at `localPath` whatever the server
/// sends: the local file system cannot hold its name, or a folder stands there. Empty when
/// nothing stands in the way.
std::string localPathObstacle(const std::string& localPath);

}  // namespace marlowick
