#include "marlowick/SettingsSummary.h"

#include <fmt/format.h>

#include "marlowick/Downloader.h"
#include "marlowick/ConsoleOutput.h"
#include "marlowick/RunReport.h"
#include "marlowick/SafeName.h"
#include "platform/Console.h"

namespace marlowick {
namespace {

constexpr std::uint64_t kKilobyte = 1024;
constexpr std::int64_t kTicksPerMinute = 600000000;

const char* flag(bool value) { return value ? "true" : "false"; }

// Sizes and ages are shown in the units the options are given in: KB and minutes.
std::string kilobytes(std::uint64_t bytes) {
  return bytes == kestrelkit::net::ftp::kUnknownSize ? std::string()
                                                     : std::to_string(bytes / kKilobyte);
}

std::string minutes(std::int64_t ticks) {
  return ticks == kestrelkit::net::ftp::kOff ? std::string()
                                             : std::to_string(ticks / kTicksPerMinute);
}

std::string security(kestrelkit::net::ftp::FtpSecurity secure) {
  switch (secure) {
    case kestrelkit::net::ftp::FtpSecurity::explicitTls:
      return "true";
    case kestrelkit::net::ftp::FtpSecurity::implicitTls:
      return "implicit";
    default:
      return std::string();
  }
}

std::string count(std::int64_t value) {
  return value == kestrelkit::net::ftp::kOff ? std::string() : std::to_string(value);
}

}  // namespace

std::string settingsTable(const Downloader& job) {
  std::string table;
  auto row = [&table](const char* label, const std::string& value) {
    if (value.empty()) return;
    table += fmt::format(" {:<12}: {}{}", label, value, platform::kLineEnd);
  };
  row("host", job.host);
  row("port", std::to_string(job.port));
  row("username", job.username);
  // Shown only as set: the table is for checking a run, and a screen can be read by others.
  row("password", job.password.empty() ? std::string() : "********");
  row("remote", job.remote);
  row("local", job.local);
  row("passive", flag(job.passive));
  row("justPrint", flag(job.justPrint));
  row("overwrite", flag(job.overwrite));
  row("recurse", flag(job.recurse));
  row("image", job.transferMode == 'I' ? "image" : "ascii");
  row("encoding", std::to_string(job.encoding));
  row("include", job.include);
  row("exclude", job.exclude);
  row("lsize", kilobytes(job.lsize));
  row("gsize", kilobytes(job.gsize));
  row("lmodified", minutes(job.lmodified));
  row("gmodified", minutes(job.gmodified));
  row("maxfiles", count(job.maxfiles));
  row("maxfolders", count(job.maxfolders));
  row("connections", job.connections > 1 ? std::to_string(job.connections) : std::string());
  row("timeout", job.timeout != Downloader::kDefaultTimeout ? std::to_string(job.timeout)
                                                           : std::string());
  row("retries", job.retries != Downloader::kDefaultRetries ? std::to_string(job.retries)
                                                           : std::string());
  row("deadline", job.deadline > 0 ? std::to_string(job.deadline) : std::string());
  row("resume", job.resume ? flag(true) : std::string());
  row("mlsd", job.mlsd ? std::string() : flag(false));
  row("keeptime", job.keeptime ? flag(true) : std::string());
  row("newer", job.newer ? flag(true) : std::string());
  row("secure", security(job.secure));
  row("verify", job.verify ? std::string() : flag(false));
  row("cafile", job.cafile);
  row("exitcodes", job.exitCodes ? flag(true) : std::string());
  row("report", job.report);
  row("Files", job.files.empty() ? std::string() : std::to_string(job.files.size()));
  table += platform::kLineEnd;
  return table;
}

std::string jobLine(const Downloader& job) {
  const std::string changed = changedSettingsArguments(job);
  return visibleName(fmt::format("Job: host {} port {} user {} remote {} local {} settings {}",
                                 job.host, job.port, job.username,
                                 job.remote.empty() ? "(login folder)" : job.remote, job.local,
                                 changed.empty() ? "(defaults)" : changed));
}

bool Downloader::printSettings() {
  // Console only, as it always was: the table is for the person at the screen.
  consoleLine(settingsTable(*this));
  return true;
}

}  // namespace marlowick
