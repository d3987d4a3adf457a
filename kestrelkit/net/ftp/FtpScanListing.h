#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"

namespace kestrelkit::net::ftp {

/// Thrown by `FtpScanListing::take` to end a listing early, once no later record of it can be
/// looked at by the walk: the file limit is reached within it.
struct FtpListingStopped {};

/// `name` as listed in `folder`, as a path below the start folder: backslashes become slashes.
std::string pathBelow(const std::string& folder, const std::string& name);
/// True when `name` has a ".." component: it would lead the local copy out of the target folder.
bool leavesFolder(const std::string& name);

/// One folder's listing as it arrives, reduced to what the walk will look at: its folders, and
/// those of its files that pass the scan's patterns and bounds. Nothing else is kept, so that a
/// huge folder of which little is selected takes little memory. A name listed again counts once
/// (compared exactly with the records kept; a name whose earlier entry was left out is judged on
/// its own). Every record handed over, kept or not, goes into a digest of the listing.
class FtpScanListing {
 public:
  /// True when a file, named by its path below the start folder, passes the patterns and bounds.
  using Passes = std::function<bool(const FtpFileInfo& file)>;

  /// `filesLeft`: how many more files the scan may select (`kOff`: no bound); `maxEntries`: how
  /// many entries a listing may have.
  FtpScanListing(std::string folder, Passes passes, std::int64_t filesLeft,
                 std::uint64_t maxEntries);

  /// Takes the next record of the listing. Throws `FtpListingStopped` once `filesLeft` files
  /// passed, and std::runtime_error (with the failure's note) at more than `maxEntries` entries.
  void take(FtpFileInfo&& record);
  /// Forgets what was taken, for another try of the listing.
  void restart();

  const std::string& folder() const { return folder_; }
  /// The same for two listings of the same entries in the same order.
  std::uint64_t digest() const { return digest_; }
  /// The records kept, with their names as listed, in listing order.
  FtpFileList takeEntries();

 private:
  bool isRepeat(const FtpFileInfo& record, std::uint64_t nameHash) const;
  void remember(std::uint64_t nameHash, std::size_t index);
  void grow();

  std::string folder_;
  Passes passes_;
  std::int64_t filesLeft_;
  std::uint64_t maxEntries_;
  FtpFileList entries_;
  /// Open addressing over the kept records: the upper half of a name's hash, and the record's
  /// index plus one (0: an empty slot).
  std::vector<std::uint64_t> slots_;
  std::uint64_t digest_ = 0;
  std::uint64_t count_ = 0;
  std::int64_t passed_ = 0;
};

}  // namespace kestrelkit::net::ftp
