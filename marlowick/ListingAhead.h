#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "kestrelkit/net/ftp/FtpScanAhead.h"
#include "marlowick/JobSettings.h"

namespace kestrelkit::net::ftp {
class FtpLib;
}

namespace marlowick {

/// The folders of a walk listed ahead on the job's other connections while the walk goes on over
/// the first one. Each folder the walk enters hands out its subfolders, and so does each listing
/// made ahead; the connections list them nearest to the walk first (in the walk's own order), at
/// most `room` listed or being listed and not yet taken, so that memory stays bounded. The walk
/// takes a listing made ahead in place of its own; one that failed or was cut short is
/// dropped, and the walk lists that folder itself, with its usual tries and lines. Folders the
/// walk passed by (limits, links to a folder above) are dropped when it passes them.
class ListingAhead final : public kestrelkit::net::ftp::FtpScanAhead {
 public:
  /// Records in one listing made ahead beyond which it is left to the walk: the walk keeps only
  /// what it selects, this keeps every record.
  static constexpr std::size_t kMostRecords = 200'000;

  /// One folder to list, for a connection that claimed it.
  struct Claim {
    std::string folder;
    std::vector<std::uint32_t> key;
  };

  /// `walker`: the walk's connection, whose way of listing (LIST or MLSD) a listing made ahead
  /// must share. `maxDepth` as the walk's (`kOff`: none).
  ListingAhead(kestrelkit::net::ftp::FtpLib& walker, const JobSettings& settings,
               std::int64_t maxDepth, std::size_t room);
  ListingAhead(const ListingAhead&) = delete;
  ListingAhead& operator=(const ListingAhead&) = delete;

  bool take(const std::string& folder, const kestrelkit::net::ftp::FtpListSink& take,
            std::size_t& overlongLines) override;
  void entered(const std::string& folder, int level,
               const std::vector<std::string>& subfolders) override;

  /// Called (outside this object's lock) whenever a folder may have become ready to claim.
  void setWake(std::function<void()> wake);
  /// Work for the walk's connection while the listing it needs is under way elsewhere: true when
  /// it did some, and may do more; false when there is none. Set before the walk begins.
  void setMeanwhile(std::function<bool()> meanwhile) { meanwhile_ = std::move(meanwhile); }
  /// True when the walk's connection lists by MLSD: the others are to list the same way.
  bool byMlsd() const { return byMlsd_; }
  /// True when a folder waits to be listed and there is room for its listing.
  bool ready();
  /// The folder to list next, if any is ready.
  std::optional<Claim> claim();
  /// Lists the claimed folder over `ftp` and keeps the listing for the walk; false when the
  /// listing failed.
  bool list(kestrelkit::net::ftp::FtpLib& ftp, const Claim& claim);
  /// The walk is over: nothing more is listed, and what was kept goes.
  void close();

 private:
  enum class State { waiting, listing, listed };
  using Key = std::vector<std::uint32_t>;
  struct Entry {
    std::string folder;
    int level = 0;
    State state = State::waiting;
    /// The walk passed it while it was being listed: dropped once the listing ends.
    bool dropped = false;
    bool byMlsd = false;
    std::size_t overlongLines = 0;
    kestrelkit::net::ftp::FtpFileList records;
  };

  /// Hands out `subfolders` (named as listed) of the folder at `key`, `level`; under the lock.
  void handOut(const Key& key, const std::string& folder, int level,
               const std::vector<std::string>& subfolders);
  /// Drops every folder before `key` in the walk's order; under the lock.
  void passTo(const Key& key);
  /// Forgets `at`; under the lock.
  void erase(std::map<Key, Entry>::iterator at);
  void done(const Claim& claim, bool listed, Entry result);
  void wake();

  kestrelkit::net::ftp::FtpLib& walker_;
  const bool byMlsd_;
  const std::int64_t maxDepth_;
  const std::size_t room_;
  /// How long the walk waits for a listing under way before it lists the folder itself.
  const std::chrono::seconds patience_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> wake_;
  std::function<bool()> meanwhile_;
  std::map<Key, Entry> entries_;
  std::unordered_map<std::string, Key> keys_;
  /// The folder the walk took last, and where it stands in the walk's order (none when the
  /// folder was not handed out here).
  std::string current_;
  std::optional<Key> currentKey_;
  Key passed_;
  bool started_ = false;
  std::size_t waiting_ = 0;
  /// Folders being listed or listed and not yet taken.
  std::size_t held_ = 0;
  bool closed_ = false;
};

}  // namespace marlowick
