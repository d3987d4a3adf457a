#pragma once

#include <cstdint>
#include <string>

#include "marlowick/JobRecord.h"

namespace marlowick {

class Downloader;
struct JobSettings;

/// The start and end of one request, in ticks of the UTC clock (`platform::utcTicksNow`).
struct RequestTimes {
  std::int64_t start = 0;
  std::int64_t end = 0;
};

/// One JSON object, on one line with its line end, about the request that ran `job` (or stopped
/// before it ran) and earned `status`: times, version, server, folders, the settings that differ
/// from the defaults (never the password), each selected file and failed folder, the totals.
/// A name that is not valid UTF-8 is written with U+FFFD for each bad byte, and its bytes as
/// they are, in hexadecimal, in a field of the same name ending in "_bytes".
std::string reportLine(const Downloader& job, RequestStatus status, RequestTimes times);

/// The settings of `job` that differ from the defaults, the same as the report's, written as
/// arguments: "--retries=5 --exclude=*.tmp". Never the password; the user name is left to the
/// caller, who names the account anyway. Empty when every setting is the default.
std::string changedSettingsArguments(const JobSettings& job);

/// `count` failed files and `folders` failed folders as one message: "3 files and 1 folder
/// failed", "1 file failed"; empty when both are 0.
std::string failureCountText(std::size_t count, std::size_t folders);

}  // namespace marlowick
