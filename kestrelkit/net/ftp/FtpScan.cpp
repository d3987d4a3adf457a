#include "kestrelkit/net/ftp/FtpScan.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpScanAhead.h"
#include "kestrelkit/net/ftp/FtpScanListing.h"
#include "kestrelkit/net/ftp/PatternMatch.h"
#include "platform/Clock.h"

namespace kestrelkit::net::ftp {

/// One open folder of the walk: its path relative to the connection's current folder, the
/// records of its listing not yet looked at and the digest of that listing. Each record leaves
/// the listing as it is looked at, so a folder's records are held once, in the listing or among
/// the results.
struct FtpScan::Level {
  std::string path;
  FtpFileList entries;
  std::uint64_t digest;
  /// Its subfolders were handed to `ahead`.
  bool toldAhead;
};

namespace {

std::string shown(const std::string& folderPath) {
  return folderPath.empty() ? std::string(".") : folderPath;
}

/// `now` - `time`, held at the 64-bit bounds instead of overflowing on a wild listed time.
std::int64_t ageBetween(std::int64_t now, std::int64_t time) {
  std::int64_t age = 0;
  if (!__builtin_sub_overflow(now, time, &age)) return age;
  return time < 0 ? kOff : std::numeric_limits<std::int64_t>::min();
}

std::string lastComponent(const std::string& name) {
  std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

FtpScan::FtpScan(FtpLib& ftp) : ftp(ftp), scanStart(platform::utcTicksNow()) {}

FtpScan& FtpScan::scan() { return scanWith(path, filter, recurse); }

FtpScan& FtpScan::scan(const std::string& startPath, bool recurseInto) {
  return scanWith(startPath, nullptr, recurseInto);
}

FtpScan& FtpScan::findByName(const std::string& startPath, const std::string& fileName,
                             bool recurseInto) {
  auto sameName = [fileName](FtpFileInfo file) { return lastComponent(file.name) == fileName; };
  return scanWith(startPath, sameName, recurseInto);
}

FtpScan& FtpScan::scanWith(const std::string& startPath, FtpScanFilter acceptance,
                           bool recurseInto) {
  fileList_.clear();
  folderList_.clear();
  errorList_.clear();
  filter = std::move(acceptance);
  walk(startPath, recurseInto);
  return *this;
}

// The walk keeps its open folders on an explicit stack rather than the call stack, so that a
// hostile server listing thousands of nested folders cannot overflow it. The order is that of
// the plain recursive walk: a folder is listed and walked right where it occurs in its parent.
// A failure belongs to the innermost open folder: it is recorded, that folder is abandoned and
// its parent goes on with its next record.
void FtpScan::walk(const std::string& startPath, bool recurseInto) {
  std::vector<Level> levels;
  enter(levels, startPath);
  while (!levels.empty()) {
    try {
      if (!step(levels, recurseInto)) levels.pop_back();
    } catch (const std::exception& failure) {
      note(failure.what());
      levels.pop_back();
    }
  }
}

void FtpScan::enter(std::vector<Level>& levels, std::string folderPath) {
  FtpScanListing listing(
      std::move(folderPath), [this](const FtpFileInfo& file) { return passesBounds(file); },
      filesLeft(), maxEntries);
  std::size_t overlong = 0;
  try {
    if (!read(listing, overlong)) {
      // For the walk a folder that cannot be listed is an empty one; the note tells why.
      const std::string reason = listingFailure ? listingFailure() : ftp.lastOutcome().reason;
      note("Listing of " + shown(listing.folder()) +
           " failed: " + (reason.empty() ? std::string("refused") : reason));
      return;
    }
  } catch (const std::exception& failure) {
    note(failure.what());
    return;
  }
  if (const std::size_t left = overlong; left > 0) {
    note("Listing of " + shown(listing.folder()) + ": " + std::to_string(left) +
         (left == 1 ? " line" : " lines") + " longer than " +
         std::to_string(FtpLib::kLongestListLine) + " bytes left out");
  }
  if (const Level* same = sameListingAbove(levels, listing.digest())) {
    note(listing.folder() + ": not entered, lists the same entries as " + shown(same->path));
    return;
  }
  levels.push_back(Level{listing.folder(), listing.takeEntries(), listing.digest(), false});
}

bool FtpScan::read(FtpScanListing& listing, std::size_t& overlong) {
  auto take = [&listing](FtpFileInfo&& record) { listing.take(std::move(record)); };
  try {
    if (ahead != nullptr && ahead->take(listing.folder(), take, overlong)) return true;
  } catch (const FtpListingStopped&) {
    return true;
  }
  for (int attempt = 1;; ++attempt) {
    try {
      const bool listed = ftp.listEach(listing.folder(), take);
      overlong = ftp.overlongLines();
      if (listed) return true;
    } catch (const FtpListingStopped&) {
      overlong = ftp.overlongLines();
      return true;  // what follows in the listing cannot be selected any more
    }
    listing.restart();
    if (!retryListing || !ftp.lastOutcome().transient() ||
        !retryListing(listing.folder(), attempt)) {
      return false;
    }
  }
}

const FtpScan::Level* FtpScan::sameListingAbove(const std::vector<Level>& levels,
                                                std::uint64_t digest) const {
  for (const Level& above : levels) {
    if (above.digest == digest) return &above;
  }
  return nullptr;
}

/// Handles the next record of the innermost open folder; false when that folder is done.
bool FtpScan::step(std::vector<Level>& levels, bool recurseInto) {
  Level& level = levels.back();
  if (level.entries.empty() || limitReached() || (stopWhen && stopWhen())) return false;
  FtpFileInfo entry = std::move(level.entries.front());
  level.entries.pop_front();
  if (entry.type != FtpFileType::file && entry.type != FtpFileType::folder) return true;

  // A folder named to lead out of its parent is never entered (it would walk the server's
  // tree in circles); a file so named goes on to the caller, which refuses to store it and says
  // so.
  if (entry.type == FtpFileType::folder && leavesFolder(pathBelow(std::string(), entry.name))) {
    note(pathBelow(level.path, entry.name) + ": name leads out of its folder");
    return true;
  }
  // A walk that does not recurse has nothing to list ahead.
  if (entry.type == FtpFileType::folder && recurseInto && ahead != nullptr && !level.toldAhead) {
    // Only now: the files selected before it are offered first, and fetching them comes first.
    level.toldAhead = true;
    tellAhead(levels, entry);
  }
  entry.name = pathBelow(level.path, entry.name);
  if (entry.type == FtpFileType::folder) {
    folderList_.push_back(entry);
    if (recurseInto) descend(levels, entry.name);  // may move `level`
  } else if (!filter || filter(entry)) {
    // The patterns and bounds were passed as it was listed.
    fileList_.push_back(std::move(entry));
    if (selected) selected(fileList_.back());
  }
  return true;
}

void FtpScan::tellAhead(const std::vector<Level>& levels, const FtpFileInfo& first) {
  std::vector<std::string> subfolders{first.name};
  for (const FtpFileInfo& entry : levels.back().entries) {
    if (entry.type == FtpFileType::folder) subfolders.push_back(entry.name);
  }
  ahead->entered(levels.back().path, static_cast<int>(levels.size()) - 1, subfolders);
}

void FtpScan::descend(std::vector<Level>& levels, const std::string& folderPath) {
  // levels.size() is the level the folder would be walked at; the start folder is level 0.
  if (maxDepth != kOff && static_cast<std::int64_t>(levels.size()) > maxDepth) {
    note(folderPath + ": not entered, deeper than " + std::to_string(maxDepth) + " folder levels");
    return;
  }
  enter(levels, folderPath);
}

bool FtpScan::limitReached() const {
  if (maxFiles != kOff && static_cast<std::int64_t>(fileList_.size()) >= maxFiles) return true;
  return maxFolders != kOff && static_cast<std::int64_t>(folderList_.size()) >= maxFolders;
}

std::int64_t FtpScan::filesLeft() const {
  // The caller's filter may refuse any file: then nothing is known ahead.
  if (filter || maxFiles == kOff) return kOff;
  return std::max<std::int64_t>(0, maxFiles - static_cast<std::int64_t>(fileList_.size()));
}

void FtpScan::note(std::string text) {
  errorList_.push_back(std::move(text));
  if (noted) noted(errorList_.back());
}

bool FtpScan::passesBounds(const FtpFileInfo& file) const {
  if (!includes.empty() && !matchesAny(includes, file.name)) return false;
  if (matchesAny(excludes, file.name)) return false;
  if (file.size != kUnknownSize) {
    if (minSize != kUnknownSize && minSize > file.size) return false;
    if (maxSize != kUnknownSize && maxSize < file.size) return false;
  }
  if ((minAge != kOff || maxAge != kOff) && file.modifyTime != ticks::kUnknownTime) {
    std::int64_t age = ageBetween(scanStart, file.modifyTime);
    if (maxAge != kOff && age > maxAge) return false;
    if (minAge != kOff && age < minAge) return false;
  }
  return true;
}

}  // namespace kestrelkit::net::ftp
