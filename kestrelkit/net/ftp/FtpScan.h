#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"

namespace kestrelkit::net::ftp {

class FtpLib;

/// Extra acceptance test supplied by the caller: true accepts the file.
using FtpScanFilter = std::function<bool(FtpFileInfo)>;
/// Told of each file the scan selects, as soon as it is selected, in walk order.
using FtpScanSelected = std::function<void(const FtpFileInfo& file)>;
/// Asked when the listing of `folder` failed in a way another try may mend (connection lost or
/// timed out, a "try again" reply), before try number `attempt` (from 1): true lists the
/// folder again, on the connection as it then is.
using FtpListRetry = std::function<bool(const std::string& folder, int attempt)>;
/// Told of each note the scan records in `errors`, as it is recorded.
using FtpScanNoted = std::function<void(const std::string& note)>;
/// Why the listing that just failed failed, for its note.
using FtpListFailure = std::function<std::string()>;

class FtpScanListing;
class FtpScanAhead;

/// Walks a remote folder tree over one connection, depth-first and pre-order, and collects
/// the files that pass the patterns, the size and age bounds and the limits, with the folders
/// met. Sends nothing but listings. A folder that cannot be listed (after its tries) or walked
/// contributes nothing, and the walk goes on; a note with the reason goes to `errors`, as does
/// one for each folder left out (too deep, leading out of its folder, or listing the same
/// entries as a folder above it, as a link to a parent folder does) and for listing lines left
/// out. A name listed more than once in one folder counts once. Of a folder's listing only its
/// folders and the files that pass the patterns and bounds are kept, and a listing stops once
/// the file limit is reached within it.
class FtpScan {
 public:
  /// Real trees are far shallower; local paths could not hold a deeper one anyway.
  static constexpr std::int64_t kDefaultMaxDepth = 1000;
  /// Entries one folder's listing may have: a server that lists without end fails that folder
  /// here rather than running for ever.
  static constexpr std::uint64_t kDefaultMaxEntries = 10'000'000;

  /// Records the scan's "now" (`scanStart`) once.
  explicit FtpScan(FtpLib& ftp);
  virtual ~FtpScan() = default;

  virtual const std::vector<std::string>& errors() const { return errorList_; }
  virtual const FtpFileList& files() const { return fileList_; }
  /// Moves the selected files out, leaving `files` empty: the caller keeps the only copy.
  FtpFileList takeFiles() {
    FtpFileList taken;
    taken.swap(fileList_);
    return taken;
  }
  virtual const std::vector<FtpFileInfo>& folders() const { return folderList_; }
  /// Scans with the stored `path`, `filter` and `recurse`.
  virtual FtpScan& scan();
  /// Scans from `startPath` ("" = the connection's current folder).
  virtual FtpScan& scan(const std::string& startPath, bool recurseInto);
  /// Collects files whose last path component equals `fileName` exactly.
  virtual FtpScan& findByName(const std::string& startPath, const std::string& fileName,
                              bool recurseInto);
  virtual FtpScan& scanWith(const std::string& startPath, FtpScanFilter acceptance,
                            bool recurseInto);

  FtpLib& ftp;
  std::string path;
  bool recurse = false;
  std::vector<std::string> includes;
  std::vector<std::string> excludes;
  std::uint64_t minSize = kUnknownSize;  // off
  std::uint64_t maxSize = kUnknownSize;  // off
  std::int64_t minAge = kOff;
  std::int64_t maxAge = kOff;
  std::int64_t maxFiles = kOff;
  std::int64_t maxFolders = kOff;
  FtpScanFilter filter;
  FtpScanSelected selected;
  FtpListRetry retryListing;
  FtpScanNoted noted;
  /// Default: the connection's last outcome.
  FtpListFailure listingFailure;
  /// Asked before each entry is handled: true ends the walk there, keeping what was selected.
  std::function<bool()> stopWhen;
  std::int64_t scanStart;
  /// Deepest folder level entered below the start folder (`kOff`: no bound). A folder met
  /// deeper down is still recorded, but not entered, and a note goes to `errors`: a server that
  /// lists a folder inside itself would otherwise be walked for ever.
  std::int64_t maxDepth = kDefaultMaxDepth;
  /// Entries a folder's listing may have; beyond, that folder fails.
  std::uint64_t maxEntries = kDefaultMaxEntries;
  /// Listings made ahead elsewhere, taken in place of the walk's own where there is one; none:
  /// every folder is listed on `ftp`.
  FtpScanAhead* ahead = nullptr;

 private:
  struct Level;

  void walk(const std::string& startPath, bool recurseInto);
  void enter(std::vector<Level>& levels, std::string folderPath);
  /// Lists the folder into `listing` (or takes the listing made ahead), with further tries as
  /// `retryListing` allows; false when its entries could not be read. `overlong`: the lines it
  /// left out as too long.
  bool read(FtpScanListing& listing, std::size_t& overlong);
  /// The open folder whose listing had `digest`, if any: a folder listing the same is a link
  /// to it.
  const Level* sameListingAbove(const std::vector<Level>& levels, std::uint64_t digest) const;
  bool step(std::vector<Level>& levels, bool recurseInto);
  void descend(std::vector<Level>& levels, const std::string& folderPath);
  /// Hands the subfolders of the innermost open folder, from `first` on, to `ahead`.
  void tellAhead(const std::vector<Level>& levels, const FtpFileInfo& first);
  bool limitReached() const;
  /// The patterns and bounds: the same whenever asked, so files are judged as they arrive.
  bool passesBounds(const FtpFileInfo& file) const;
  /// How many more files may be selected before the walk stops, when that is known ahead.
  std::int64_t filesLeft() const;
  void note(std::string text);

  FtpFileList fileList_;
  std::vector<std::string> errorList_;
  std::vector<FtpFileInfo> folderList_;
};

}  // namespace kestrelkit::net::ftp
