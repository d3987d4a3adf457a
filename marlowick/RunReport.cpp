#include "marlowick/RunReport.h"

#include <fmt/format.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string_view>

#include "marlowick/Downloader.h"
#include "marlowick/TickTime.h"

#ifndef MARLOWICK_VERSION
#define MARLOWICK_VERSION "0.0.0"
#endif

namespace marlowick {
namespace {

using Json = nlohmann::ordered_json;
using kestrelkit::net::ftp::FtpSecurity;
using kestrelkit::net::ftp::kOff;
using kestrelkit::net::ftp::kUnknownSize;

constexpr std::int64_t kTicksPerMinute = 600000000;

/// The length of the valid UTF-8 sequence at the start of `text`, or 0 when it is not one.
std::size_t sequenceLength(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

/// `name` under `key`, with U+FFFD for each byte that is not valid UTF-8. When it had such bytes,
/// or `original` (the bytes the name stands for, where they differ from its text) is given, those
/// bytes go in hexadecimal under `key` + "_bytes", so that the name can be had back exactly.
void putName(Json& object, const std::string& key, std::string_view name,
             std::string_view original = {}) {
  std::string text;
  bool valid = true;
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t length = sequenceLength(name.substr(at));
    if (length == 0) {
      valid = false;
      text += "\xEF\xBF\xBD";
      ++at;
    } else {
      text.append(name.substr(at, length));
      at += length;
    }
  }
  object[key] = text;
  if (original.empty() || original == name) original = name;
  if (valid && original == name) return;
  std::string hex;
  for (unsigned char c : original) hex += fmt::format("{:02x}", c);
  object[key + "_bytes"] = hex;
}

std::string utcText(std::int64_t ticks) { return formatTickTime(ticks) + "Z"; }

const char* stateName(FileState state) {
  switch (state) {
    case FileState::saved:
      return "saved";
    case FileState::skipped:
      return "skipped";
    case FileState::listed:
      return "listed";
    default:
      return "failed";
  }
}

const char* statusName(RequestStatus status) {
  switch (status) {
    case RequestStatus::done:
      return "done";
    case RequestStatus::invalidArguments:
      return "invalid arguments";
    case RequestStatus::notStarted:
      return "not started";
    case RequestStatus::someFailed:
      return "some failed";
    case RequestStatus::deadline:
      return "deadline";
    default:
      return "log unavailable";
  }
}

const char* securityName(FtpSecurity secure) {
  switch (secure) {
    case FtpSecurity::explicitTls:
      return "true";
    case FtpSecurity::implicitTls:
      return "implicit";
    default:
      return "false";
  }
}

/// The settings that differ from a fresh job's, in the units they are given in; the password
/// never.
Json changedSettings(const JobSettings& job) {
  const JobSettings fresh;
  Json settings = Json::object();
  auto differs = [&settings](const char* key, const auto& value, const auto& initial) {
    if (value != initial) settings[key] = value;
  };
  if (!job.username.empty()) putName(settings, "username", job.username);
  differs("passive", job.passive, fresh.passive);
  differs("recurse", job.recurse, fresh.recurse);
  differs("overwrite", job.overwrite, fresh.overwrite);
  differs("justPrint", job.justPrint, fresh.justPrint);
  if (job.transferMode != fresh.transferMode) settings["image"] = job.transferMode == 'I';
  if (!job.include.empty()) putName(settings, "include", job.include);
  if (!job.exclude.empty()) putName(settings, "exclude", job.exclude);
  if (job.lsize != kUnknownSize) settings["lsize"] = job.lsize / 1024;
  if (job.gsize != kUnknownSize) settings["gsize"] = job.gsize / 1024;
  if (job.lmodified != kOff) settings["lmodified"] = job.lmodified / kTicksPerMinute;
  if (job.gmodified != kOff) settings["gmodified"] = job.gmodified / kTicksPerMinute;
  if (job.maxfiles != kOff) settings["maxfiles"] = job.maxfiles;
  if (job.maxfolders != kOff) settings["maxfolders"] = job.maxfolders;
  differs("connections", job.connections, fresh.connections);
  differs("timeout", job.timeout, fresh.timeout);
  differs("retries", job.retries, fresh.retries);
  differs("deadline", job.deadline, fresh.deadline);
  differs("resume", job.resume, fresh.resume);
  differs("mlsd", job.mlsd, fresh.mlsd);
  differs("keeptime", job.keeptime, fresh.keeptime);
  differs("newer", job.newer, fresh.newer);
  if (job.secure != fresh.secure) settings["secure"] = securityName(job.secure);
  differs("verify", job.verify, fresh.verify);
  if (!job.cafile.empty()) putName(settings, "cafile", job.cafile);
  differs("exitcodes", job.exitCodes, fresh.exitCodes);
  if (!job.report.empty()) putName(settings, "report", job.report);
  return settings;
}

/// The file's remote path: the start folder and the name below it, as the server has them.
std::string remotePath(const Downloader& job, const std::string& name) {
  if (job.remote.empty()) return name;
  std::string start = job.toServer(job.remote);
  return start.back() == '/' ? start + name : start + "/" + name;
}

Json fileObject(const Downloader& job, const JobRecord::File& file) {
  Json object;
  const std::string remote = remotePath(job, file.remote);
  putName(object, "remote", job.fromServer(remote), remote);
  putName(object, "local", file.local);
  object["size"] = file.size == kUnknownSize ? Json() : Json(file.size);
  object["modified"] = file.modifyTime == kestrelkit::net::ftp::ticks::kUnknownTime
                           ? Json()
                           : Json(formatTickTime(file.modifyTime));
  object["outcome"] = stateName(file.state);
  if (file.state == FileState::failed || file.state == FileState::pending) {
    object["reason"] = file.reason;
  }
  object["bytes"] = file.bytes;
  object["tries"] = file.tries;
  object["seconds"] = file.seconds;
  object["resumed_from"] = file.resumedFrom;
  return object;
}

}  // namespace

std::string changedSettingsArguments(const JobSettings& job) {
  const Json settings = changedSettings(job);
  std::string text;
  for (auto entry = settings.begin(); entry != settings.end(); ++entry) {
    if (entry.key() == "username") continue;
    const Json& value = entry.value();
    text += fmt::format("{}--{}={}", text.empty() ? "" : " ", entry.key(),
                        value.is_string() ? value.get<std::string>() : value.dump());
  }
  return text;
}

std::string failureCountText(std::size_t count, std::size_t folders) {
  auto part = [](std::size_t n, const char* one) {
    return fmt::format("{} {}{}", n, one, n == 1 ? "" : "s");
  };
  if (count == 0 && folders == 0) return {};
  if (folders == 0) return part(count, "file") + " failed";
  if (count == 0) return part(folders, "folder") + " failed";
  return part(count, "file") + " and " + part(folders, "folder") + " failed";
}

std::string reportLine(const Downloader& job, RequestStatus status, RequestTimes times) {
  const JobRecord& record = *job.record;
  Json line;
  line["start"] = utcText(times.start);
  line["end"] = utcText(times.end);
  line["version"] = MARLOWICK_VERSION;
  putName(line, "host", job.host);
  line["port"] = job.port;
  putName(line, "remote", job.remote);
  putName(line, "local", job.local);
  line["settings"] = changedSettings(job);
  Json files = Json::array();
  std::size_t counts[5] = {};
  std::uint64_t bytes = 0;
  for (const JobRecord::File& file : record.files()) {
    files.push_back(fileObject(job, file));
    ++counts[static_cast<int>(file.state)];
    bytes += file.bytes;
  }
  line["files"] = std::move(files);
  Json folders = Json::array();
  for (const JobRecord::Folder& folder : record.folders()) {
    Json object;
    putName(object, "remote", job.fromServer(folder.path), folder.path);
    object["reason"] = folder.reason;
    folders.push_back(std::move(object));
  }
  line["folders"] = std::move(folders);
  line["totals"] = {
      {"selected", record.files().size()},
      {"saved", counts[static_cast<int>(FileState::saved)]},
      {"skipped", counts[static_cast<int>(FileState::skipped)]},
      {"listed", counts[static_cast<int>(FileState::listed)]},
      {"failed", record.failedFiles()},
      {"failed_folders", record.failedFolders()},
      {"bytes", bytes},
  };
  if (std::string failure = record.jobFailure(); !failure.empty()) line["job_failure"] = failure;
  line["status"] = statusName(status);
  line["exit_code"] = static_cast<int>(status);
  // Every text went through putName or is ours; a reason quoting a server's odd bytes must
  // not stop the record either.
  return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace marlowick
