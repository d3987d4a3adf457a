#include "marlowick/ListingAhead.h"

#include <algorithm>
#include <utility>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpScanListing.h"

namespace marlowick {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpFileList;
using kestrelkit::net::ftp::FtpFileType;
using kestrelkit::net::ftp::FtpLib;
using kestrelkit::net::ftp::FtpListingStopped;
using kestrelkit::net::ftp::FtpListSink;
using kestrelkit::net::ftp::kOff;
using kestrelkit::net::ftp::leavesFolder;
using kestrelkit::net::ftp::pathBelow;

ListingAhead::ListingAhead(FtpLib& walker, const JobSettings& settings, std::int64_t maxDepth,
                           std::size_t room)
    : walker_(walker),
      byMlsd_(walker.listsByMlsd()),
      maxDepth_(maxDepth),
      room_(room),
      // A listing under way moves, or fails, within the time limit of each of its waits; without
      // one the walk still waits no more than ten minutes.
      patience_(settings.timeout > 0 ? std::chrono::seconds(settings.timeout * 2)
                                     : std::chrono::seconds(600)) {}

void ListingAhead::setWake(std::function<void()> wake) {
  std::lock_guard<std::mutex> guard(mutex_);
  wake_ = std::move(wake);
}

void ListingAhead::wake() {
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    wake = wake_;
  }
  if (wake) wake();
}

bool ListingAhead::take(const std::string& folder, const FtpListSink& take,
                        std::size_t& overlongLines) {
  const bool walkerByMlsd = walker_.listsByMlsd();
  FtpFileList records;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    current_ = folder;
    currentKey_.reset();
    const auto known = keys_.find(folder);
    if (known == keys_.end()) {
      // The walk's start folder stands first in its order.
      if (!started_) currentKey_ = Key{};
      started_ = true;
      return false;
    }
    const Key key = known->second;
    currentKey_ = key;
    passTo(key);
    auto at = entries_.find(key);
    const auto settled = [&] {
      at = entries_.find(key);
      return closed_ || at == entries_.end() || at->second.state != State::listing;
    };
    const auto until = std::chrono::steady_clock::now() + patience_;
    bool inTime = true;
    while (!settled()) {
      // The walk's connection would stand idle: it does other work between looks.
      if (meanwhile_ && std::chrono::steady_clock::now() < until) {
        lock.unlock();
        const bool busy = meanwhile_();
        lock.lock();
        if (busy) continue;
      }
      if (!changed_.wait_until(lock, until, settled)) {
        inTime = false;
        break;
      }
    }
    if (at == entries_.end()) return false;
    if (!inTime || closed_) {
      at->second.dropped = true;
      return false;
    }
    Entry& entry = at->second;
    // A listing in another form than the walk's own would select by other records.
    const bool usable = entry.state == State::listed && entry.byMlsd == walkerByMlsd;
    if (usable) {
      records = std::move(entry.records);
      overlongLines = entry.overlongLines;
    }
    erase(at);
    if (!usable) return false;
  }
  wake();  // room for another listing
  for (FtpFileInfo& record : records) take(std::move(record));
  return true;
}

void ListingAhead::entered(const std::string& folder, int level,
                           const std::vector<std::string>& subfolders) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (closed_ || folder != current_ || !currentKey_) return;
    handOut(*currentKey_, folder, level, subfolders);
  }
  wake();
}

void ListingAhead::handOut(const Key& key, const std::string& folder, int level,
                           const std::vector<std::string>& subfolders) {
  if (maxDepth_ != kOff && level + 1 > maxDepth_) return;
  std::uint32_t index = 0;
  for (const std::string& name : subfolders) {
    Key childKey = key;
    childKey.push_back(index++);
    if (leavesFolder(name)) continue;
    std::string path = pathBelow(folder, name);
    // Already handed out, or behind the walk: a folder named twice is listed once.
    if (childKey <= passed_ || keys_.count(path) != 0 || path == current_) continue;
    keys_.emplace(path, childKey);
    Entry entry;
    entry.folder = std::move(path);
    entry.level = level + 1;
    entries_.emplace(std::move(childKey), std::move(entry));
    ++waiting_;
  }
}

void ListingAhead::passTo(const Key& key) {
  passed_ = key;
  for (auto at = entries_.begin(); at != entries_.end() && at->first < key;) {
    if (at->second.state == State::listing) {
      at->second.dropped = true;
      ++at;
    } else {
      erase(at++);
    }
  }
}

void ListingAhead::erase(std::map<Key, Entry>::iterator at) {
  if (at->second.state == State::waiting) {
    --waiting_;
  } else {
    --held_;
  }
  keys_.erase(at->second.folder);
  entries_.erase(at);
}

bool ListingAhead::ready() {
  std::lock_guard<std::mutex> guard(mutex_);
  return !closed_ && waiting_ > 0 && held_ < room_;
}

std::optional<ListingAhead::Claim> ListingAhead::claim() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (closed_ || waiting_ == 0 || held_ >= room_) return std::nullopt;
  for (auto& [key, entry] : entries_) {
    if (entry.state != State::waiting) continue;
    entry.state = State::listing;
    --waiting_;
    ++held_;
    return Claim{entry.folder, key};
  }
  return std::nullopt;
}

bool ListingAhead::list(FtpLib& ftp, const Claim& claim) {
  Entry result;
  std::size_t count = 0;
  bool listed = false;
  try {
    listed = ftp.listEach(claim.folder, [&result, &count](FtpFileInfo&& record) {
      if (++count > kMostRecords) throw FtpListingStopped{};
      result.records.push_back(std::move(record));
    });
  } catch (const FtpListingStopped&) {
    listed = false;  // left to the walk, which keeps only what it selects
  }
  result.overlongLines = ftp.overlongLines();
  result.byMlsd = ftp.listsByMlsd();
  done(claim, listed, std::move(result));
  return listed;
}

void ListingAhead::done(const Claim& claim, bool listed, Entry result) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto at = entries_.find(claim.key);
    if (at == entries_.end()) {
      // Closed meanwhile: nothing is kept any more.
    } else if (!listed || at->second.dropped) {
      // The walk lists a folder that failed here itself, as it would without listing ahead.
      erase(at);
    } else {
      Entry& entry = at->second;
      entry.state = State::listed;
      entry.byMlsd = result.byMlsd;
      entry.overlongLines = result.overlongLines;
      entry.records = std::move(result.records);
      std::vector<std::string> subfolders;
      for (const FtpFileInfo& record : entry.records) {
        if (record.type == FtpFileType::folder) subfolders.push_back(record.name);
      }
      handOut(claim.key, entry.folder, entry.level, subfolders);
    }
  }
  changed_.notify_all();
  wake();
}

void ListingAhead::close() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    closed_ = true;
    entries_.clear();
    keys_.clear();
    waiting_ = 0;
    held_ = 0;
  }
  changed_.notify_all();
  wake();
}

}  // namespace marlowick
