#pragma once

#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "kestrelkit/net/ftp/FtpLib.h"

namespace kestrelkit::net::ftp::scantest {

inline FtpFileInfo entry(std::string name, FtpFileType type, std::uint64_t size = kUnknownSize,
                         std::int64_t modifyTime = ticks::kUnknownTime) {
  FtpFileInfo info;
  info.name = std::move(name);
  info.type = type;
  info.size = size;
  info.modifyTime = modifyTime;
  return info;
}

inline FtpFileInfo file(std::string name, std::uint64_t size = kUnknownSize,
                        std::int64_t modifyTime = ticks::kUnknownTime) {
  return entry(std::move(name), FtpFileType::file, size, modifyTime);
}

inline FtpFileInfo folder(std::string name) { return entry(std::move(name), FtpFileType::folder); }

/// A connection that serves listings from memory and records which paths were listed. A path
/// it does not know is refused (false, nothing listed), like a server answering 550.
class ListingFtp : public FtpLib {
 public:
  std::map<std::string, std::vector<FtpFileInfo>> listings;
  /// Consulted for paths missing from `listings` when set.
  std::function<std::vector<FtpFileInfo>(const std::string&)> generate;
  /// Paths whose listing raises a failure with the text "listing <path> broke".
  std::set<std::string> broken;
  std::vector<std::string> listed;
  /// Records handed over so far, over all listings.
  std::size_t handed = 0;

  bool listEach(const std::string& path, const FtpListSink& take) override {
    listed.push_back(path);
    if (broken.count(path)) throw std::runtime_error("listing " + path + " broke");
    auto found = listings.find(path);
    if (found == listings.end() && !generate) return false;
    for (FtpFileInfo record : found != listings.end() ? found->second : generate(path)) {
      ++handed;
      take(std::move(record));
    }
    return true;
  }
};

/// The names of the files or of the folders a scan met, in order.
template <typename Records>
std::vector<std::string> namesOf(const Records& records) {
  std::vector<std::string> names;
  for (const FtpFileInfo& record : records) names.push_back(record.name);
  return names;
}

}  // namespace kestrelkit::net::ftp::scantest
