#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <string>

namespace kestrelkit::net::ftp {

/// Kind of a remote folder entry.
enum class FtpFileType : std::int32_t {
  unknown = 0,  // also symbolic links and special files
  file = 1,
  currentFolder = 2,
  parentFolder = 3,
  folder = 4,
  other = 5,  // declared, never produced
};

/// Tick time scale: 100-nanosecond ticks since 0001-01-01 00:00:00 (proleptic Gregorian).
namespace ticks {
inline constexpr std::int64_t kUnknownTime = 3155378975999999999;  // last tick of 9999-12-31
inline constexpr std::int64_t kUnixEpoch = 621355968000000000;
inline constexpr std::int64_t kFileTimeEpoch = 504911232000000000;  // 1601-01-01
inline constexpr std::int64_t kPerSecond = 10000000;
inline constexpr std::int64_t kPerMinute = 600000000;
inline constexpr std::int64_t kPerDay = 864000000000;

/// Seconds since 1970 on the tick scale.
constexpr std::int64_t fromUnixSeconds(std::int64_t seconds) {
  return seconds * kPerSecond + kUnixEpoch;
}

/// The last second the tick scale holds (9999-12-31 23:59:59) and the first (0001-01-01).
inline constexpr std::int64_t kLastUnixSecond = (kUnknownTime - kUnixEpoch) / kPerSecond;
inline constexpr std::int64_t kFirstUnixSecond = -kUnixEpoch / kPerSecond;

/// Seconds since 1970 on the tick scale; a time the scale cannot hold is unknown.
constexpr std::int64_t fromUnixSecondsOrUnknown(std::int64_t seconds) {
  if (seconds < kFirstUnixSecond || seconds > kLastUnixSecond) return kUnknownTime;
  return fromUnixSeconds(seconds);
}
}  // namespace ticks

/// The one set of sentinels, used by the records, the scan's bounds and the job's settings alike.
/// A size that is not known, and a size bound that is switched off: all bits set.
inline constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};
/// An age or count bound that is switched off: the largest signed 64-bit value.
inline constexpr std::int64_t kOff = std::numeric_limits<std::int64_t>::max();

/// One remote folder entry. A plain value record, copied when stored.
struct FtpFileInfo {
  std::string name;  // bytes as listed; in scan results the path relative to the start folder
  FtpFileType type = FtpFileType::unknown;
  std::uint64_t size = kUnknownSize;
  std::int64_t modifyTime = ticks::kUnknownTime;
  std::int64_t createTime = ticks::kUnknownTime;
  std::string mediaType;
  std::map<std::string, std::string> facts;

  bool operator==(const FtpFileInfo&) const = default;
};

/// A list of records, as the scan collects them: it grows without moving the records it holds
/// and frees its front as records are taken from it, so a folder of many entries is not held
/// twice on its way from the listing to the selection.
using FtpFileList = std::deque<FtpFileInfo>;

}  // namespace kestrelkit::net::ftp
