#include "kestrelkit/net/ftp/FtpScanListing.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace kestrelkit::net::ftp {
namespace {

constexpr std::size_t kFirstSlots = 64;

std::uint64_t mixed(std::uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdULL;
  value ^= value >> 33;
  value *= 0xc4ceb9fe1a85ec53ULL;
  return value ^ (value >> 33);
}

std::uint64_t nameHash(const std::string& name) {
  return mixed(std::hash<std::string_view>{}(std::string_view(name)));
}

}  // namespace

// A name with a ".." component would lead the local copy out of the target folder.
bool leavesFolder(const std::string& name) {
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

std::string pathBelow(const std::string& folder, const std::string& name) {
  // Made afresh (a copy's room is its length), so a kept name takes no more than it needs.
  std::string path = folder.empty()         ? name
                     : folder.back() == '/' ? folder + name
                                            : folder + "/" + name;
  std::replace(path.end() - static_cast<std::ptrdiff_t>(name.size()), path.end(), '\\', '/');
  return path;
}

FtpScanListing::FtpScanListing(std::string folder, Passes passes, std::int64_t filesLeft,
                               std::uint64_t maxEntries)
    : folder_(std::move(folder)),
      passes_(std::move(passes)),
      filesLeft_(filesLeft),
      maxEntries_(maxEntries) {}

void FtpScanListing::take(FtpFileInfo&& record) {
  if (++count_ > maxEntries_) {
    throw std::runtime_error("Listing of " + (folder_.empty() ? std::string(".") : folder_) +
                             " failed: more than " + std::to_string(maxEntries_) + " entries");
  }
  const std::uint64_t hash = nameHash(record.name);
  digest_ = mixed(digest_ ^ hash) + mixed(record.size ^ static_cast<std::uint64_t>(record.type)) +
            static_cast<std::uint64_t>(record.modifyTime);
  const bool isFile = record.type == FtpFileType::file;
  if (!isFile && record.type != FtpFileType::folder) return;
  if (isRepeat(record, hash)) return;
  if (isFile) {
    // Judged by its path below the start folder, kept with its name as listed.
    std::string listed = std::move(record.name);
    record.name = pathBelow(folder_, listed);
    const bool passed = passes_(record);
    record.name = std::move(listed);
    if (!passed) return;
  }
  remember(hash, entries_.size());
  record.name.shrink_to_fit();  // the parser's room for the name is up to twice its length
  entries_.push_back(std::move(record));
  if (isFile && filesLeft_ != kOff && ++passed_ >= filesLeft_) throw FtpListingStopped{};
}

void FtpScanListing::restart() {
  entries_.clear();
  slots_.clear();
  digest_ = 0;
  count_ = 0;
  passed_ = 0;
}

FtpFileList FtpScanListing::takeEntries() {
  slots_ = {};
  return std::move(entries_);
}

bool FtpScanListing::isRepeat(const FtpFileInfo& record, std::uint64_t hash) const {
  if (slots_.empty()) return false;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash & mask; slots_[at] != 0; at = (at + 1) & mask) {
    if ((slots_[at] >> 32) != (hash >> 32)) continue;
    if (entries_[(slots_[at] & 0xffffffffULL) - 1].name == record.name) return true;
  }
  return false;
}

void FtpScanListing::remember(std::uint64_t hash, std::size_t index) {
  // At most half full, so that every probe ends soon at an empty slot.
  if ((entries_.size() + 1) * 2 > slots_.size()) grow();
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = hash & mask;
  while (slots_[at] != 0) at = (at + 1) & mask;
  slots_[at] = (hash & 0xffffffff00000000ULL) | (index + 1);
}

void FtpScanListing::grow() {
  std::vector<std::uint64_t> old(std::max(kFirstSlots, slots_.size() * 2), 0);
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (std::uint64_t slot : old) {
    if (slot == 0) continue;
    const std::size_t index = (slot & 0xffffffffULL) - 1;
    const std::uint64_t hash = nameHash(entries_[index].name);
    std::size_t at = hash & mask;
    while (slots_[at] != 0) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

}  // namespace kestrelkit::net::ftp
