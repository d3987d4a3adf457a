// One download request's arguments: the response file, the required arguments and the
// conversion of every value into the job.
#include <fmt/format.h>

#include <functional>
#include <string>
#include <string_view>

#include "marlowick/Downloader.h"
#include "marlowick/Downloading.h"
#include "marlowick/Logger.h"
#include "marlowick/ResponseFile.h"
#include "marlowick/ConsoleOutput.h"
#include "marlowick/ValueText.h"
#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "util/Arguments.h"
#include "util/Text.h"

namespace marlowick {

using kestrelkit::net::ftp::FtpSecurity;

namespace {

constexpr std::uint64_t kKilobyte = 1024;
constexpr std::int64_t kTicksPerMinute = 600000000;

const char* kLineBreak() { return platform::kLineEnd.data(); }

// Runs `apply` on every value of `name`, stopping at the first one it rejects.
bool eachValue(const util::Arguments& arguments, const char* name,
               const std::function<bool(const std::string&)>& apply) {
  for (const std::string& value : arguments.values(name)) {
    if (!apply(value)) return false;
  }
  return true;
}

bool applyBoolean(const util::Arguments& arguments, const char* name, bool& target,
                  const char* messageStart, const char* validWord) {
  return eachValue(arguments, name, [&](const std::string& value) {
    if (parseBoolean(value, target)) return true;
    return printAndLog(fmt::format("{}{}{}{} value is true or false", messageStart, value,
                                   kLineBreak(), validWord),
                       false);
  });
}

// "<N" or ">N": the number is converted before the first character is looked at.
enum class Bound { lower, upper, invalidNumber, invalidStart };

template <typename Number, typename Parse>
Bound readBound(const std::string& value, Number& number, Parse parse) {
  if (value.empty() || !parse(std::string_view(value).substr(1), number)) {
    return Bound::invalidNumber;
  }
  if (value[0] == '<') return Bound::upper;
  if (value[0] == '>') return Bound::lower;
  return Bound::invalidStart;
}

bool applySize(Downloader& job, const std::string& value) {
  std::uint64_t kilobytes = 0, bytes = 0;
  Bound bound = readBound(value, kilobytes, [](std::string_view text, std::uint64_t& n) {
    return parseUnsignedNumber(text, n);
  });
  if (bound == Bound::invalidNumber || !multiplyChecked(kilobytes, kKilobyte, bytes)) {
    return printAndLog("Invalid size value: " + value, false);
  }
  if (bound == Bound::invalidStart) {
    return printAndLog(
        fmt::format("Invalid size value: {}{}must begin with < or >", value, kLineBreak()), false);
  }
  (bound == Bound::upper ? job.lsize : job.gsize) = bytes;
  return true;
}

bool applyModified(Downloader& job, const std::string& value) {
  std::int64_t minutes = 0, ticks = 0;
  Bound bound = readBound(value, minutes, [](std::string_view text, std::int64_t& n) {
    return parseWholeNumber(text, n);
  });
  if (bound == Bound::invalidNumber || !multiplyChecked(minutes, kTicksPerMinute, ticks)) {
    return printAndLog(fmt::format("Invalid modified number: {}", value), false);
  }
  if (bound == Bound::invalidStart) {
    return printAndLog(
        fmt::format("Invalid modified value: {}{}must begin with < or >", value, kLineBreak()),
        false);
  }
  (bound == Bound::upper ? job.lmodified : job.gmodified) = ticks;
  return true;
}

// lsize / gsize: present without a value switches the bound off.
bool applyKilobytes(const util::Arguments& arguments, const char* name, std::uint64_t& target) {
  if (!arguments.isPresent(name)) return true;
  if (arguments.values(name).empty()) {
    target = kestrelkit::net::ftp::kUnknownSize;
    return true;
  }
  return eachValue(arguments, name, [&](const std::string& value) {
    std::uint64_t kilobytes = 0, bytes = 0;
    if (parseUnsignedNumber(value, kilobytes) && multiplyChecked(kilobytes, kKilobyte, bytes)) {
      target = bytes;
      return true;
    }
    return printAndLog(fmt::format("Invalid {} value: {}", name, value), false);
  });
}

// lmodified / gmodified: present without a value switches the bound off. One-character
// values of lmodified are passed over.
bool applyMinutes(const util::Arguments& arguments, const char* name, std::int64_t& target,
                  bool skipSingleCharacters) {
  if (!arguments.isPresent(name)) return true;
  if (arguments.values(name).empty()) {
    target = kestrelkit::net::ftp::kOff;
    return true;
  }
  return eachValue(arguments, name, [&](const std::string& value) {
    if (skipSingleCharacters && value.size() < 2) return true;
    std::int64_t minutes = 0, ticks = 0;
    if (parseWholeNumber(value, minutes) && multiplyChecked(minutes, kTicksPerMinute, ticks)) {
      target = ticks;
      return true;
    }
    return printAndLog(fmt::format("Invalid {} value: {}", name, value), false);
  });
}

bool applyCount(const util::Arguments& arguments, const char* name, std::int64_t& target,
                const char* messageStart) {
  return eachValue(arguments, name, [&](const std::string& value) {
    if (parseWholeNumber(value, target)) return true;
    return printAndLog(messageStart + value, false);
  });
}

/// A whole number from `lowest` to `highest`; anything else is "Invalid {name} value: ...".
template <typename Number>
bool applyRange(const util::Arguments& arguments, const char* name, std::int64_t lowest,
                std::int64_t highest, Number& target) {
  return eachValue(arguments, name, [&](const std::string& value) {
    std::int64_t number = 0;
    if (parseWholeNumber(value, number) && number >= lowest && number <= highest) {
      target = static_cast<Number>(number);
      return true;
    }
    return printAndLog(fmt::format("Invalid {} value: {}", name, value), false);
  });
}

void applyPatterns(const util::Arguments& arguments, const char* name, std::string& target) {
  if (!arguments.isPresent(name)) return;
  const auto& values = arguments.values(name);
  target = values.empty() ? std::string() : values.back();
}

// A day: any longer and the limit is no limit at all.
constexpr std::int64_t kLongestTimeout = 86400;
constexpr std::int32_t kImplicitTlsPort = 990;
// A week: a scheduled run that may last longer needs no end of its own.
constexpr std::int64_t kLongestDeadline = 7 * 86400;

}  // namespace

void takeOutputArguments(Downloader& job, const util::Arguments& arguments) {
  for (const std::string& value : arguments.values("exitcodes")) {
    bool on = false;
    if (parseBoolean(value, on)) job.exitCodes = on;
  }
  for (const std::string& value : arguments.values("report")) job.report = value;
  for (const std::string& value : arguments.values("quiet")) parseBoolean(value, job.quiet);
}

void declareRequestArguments(util::Arguments& arguments) {
  arguments.declare("justPrint").anyNumberOfValues().addAlias({"justprint", "JUSTPRINT", "test"});
  arguments.declare("lsize").anyNumberOfValues().addAlias("1size");
  arguments.declare("lmodified").anyNumberOfValues().addAlias("1modified");
}

bool Downloading::parstAt(std::vector<std::string>& tokens) {
  std::string path = stripQuotes(std::string_view(tokens[0]).substr(1));
  // A relative name is looked for in the current folder first, as a shell user means it, then
  // in the program's folder.
  if (!platform::isAbsolutePath(path) && platform::pathKind(path) == platform::PathKind::missing) {
    path = platform::programFolder() + path;
  }
  if (platform::pathKind(path) == platform::PathKind::missing) {
    return printAndLog("Specified path does not exists: " + path, false);
  }
  try {
    std::string bytes, error;
    if (!platform::readWholeFile(path, bytes, &error)) throw std::runtime_error(error);
    std::string text = decodeResponseFile(bytes);
    std::string_view content = util::trimmed(text);
    if (content.empty()) return printAndLog(fmt::format("empty file {}", path), false);

    std::vector<std::string> rest(tokens.begin() + 1, tokens.end());
    tokens = responseFileTokens(content);
    tokens.insert(tokens.end(), rest.begin(), rest.end());
    return true;
  } catch (const std::exception& failure) {
    logger().error(fmt::format("parstAt catch {}", failure.what()));
    return false;
  }
}

bool Downloading::checkArguments(const util::Arguments& arguments) {
  try {
    for (const char* name : {"host", "local", "username", "password"}) {
      if (arguments.firstValue(name).empty()) {
        return printAndLog(std::string(name) + " required but was not discovered", false);
      }
    }
    std::string local = arguments.firstValue("local");
    switch (platform::pathKind(local)) {
      case platform::PathKind::missing:
        return printAndLog("Specified path does not exists: " + local, false);
      case platform::PathKind::folder:
        return true;
      default:
        return printAndLog("Specified path isn't a folder: " + local, false);
    }
  } catch (const std::exception& failure) {
    return printAndLog(std::string("checkArguments catch: ") + failure.what(), false);
  }
}

bool Downloading::applyArguments(Downloader& job, const util::Arguments& arguments) {
  for (std::string value : arguments.values("local")) {
    for (char& c : value) {
      if (c == '\\' || c == '/') c = platform::kPathSeparator;
    }
    if (value.empty() || value.back() != platform::kPathSeparator) {
      value += platform::kPathSeparator;
    }
    job.local = value;
  }
  for (const std::string& value : arguments.values("host")) job.host = value;
  for (std::string value : arguments.values("remote")) {
    for (char& c : value) {
      if (c == '\\') c = '/';
    }
    if (value.size() > 1 && value.back() == '/') value.pop_back();
    job.remote = value;
  }
  for (const std::string& value : arguments.values("username")) job.username = value;
  for (const std::string& value : arguments.values("password")) job.password = value;

  bool ok = eachValue(arguments, "port", [&](const std::string& value) {
    std::int64_t port = 0;
    // A port is 16 bits wide: a larger number would silently reach another port.
    if (parseWholeNumber(value, port) && port >= 0 && port <= 65535) {
      job.port = static_cast<std::int32_t>(port);
      return true;
    }
    return printAndLog("Invalid port number: " + value, false);
  });
  ok = ok && applyBoolean(arguments, "passive", job.passive, "Invalid passive value: ", "valid");
  ok = ok && applyBoolean(arguments, "recurse", job.recurse, "Invalid recurse value: ", "valid");
  if (!ok) return false;
  applyPatterns(arguments, "include", job.include);
  applyPatterns(arguments, "exclude", job.exclude);
  ok = eachValue(arguments, "size", [&](const std::string& v) { return applySize(job, v); }) &&
       eachValue(arguments, "modified", [&](const std::string& v) { return applyModified(job, v); }) &&
       applyBoolean(arguments, "overwrite", job.overwrite, "Invalid overwrite value: ", "Valid") &&
       applyBoolean(arguments, "justPrint", job.justPrint, "Invalid justPrint value: ", "Valid") &&
       applyKilobytes(arguments, "lsize", job.lsize) &&
       applyKilobytes(arguments, "gsize", job.gsize) &&
       applyMinutes(arguments, "lmodified", job.lmodified, true) &&
       applyMinutes(arguments, "gmodified", job.gmodified, false) &&
       applyCount(arguments, "maxfiles", job.maxfiles, "Invalid maxfiles parameter ") &&
       applyCount(arguments, "maxfolders", job.maxfolders, "Invalid maxfolders value: ");
  if (!ok) return false;
  ok = eachValue(arguments, "image", [&](const std::string& value) {
    bool image = true;
    if (!parseBoolean(value, image)) return printAndLog("Invalid image value: " + value, false);
    return image ? job.setImage() : job.setAscii();
  });
  ok = ok &&
       applyRange(arguments, "connections", 1, Downloader::kMostConnections, job.connections);
  ok = ok && applyRange(arguments, "timeout", 0, kLongestTimeout, job.timeout);
  ok = ok && applyRange(arguments, "retries", 0, Downloader::kMostRetries, job.retries);
  ok = ok && applyRange(arguments, "deadline", 0, kLongestDeadline, job.deadline);
  ok = ok && applyBoolean(arguments, "resume", job.resume, "Invalid resume value: ", "Valid");
  ok = ok && eachValue(arguments, "secure", [&](const std::string& value) {
    bool on = false;
    if (util::lowerAscii(value) == "implicit") {
      job.secure = FtpSecurity::implicitTls;
    } else if (parseBoolean(value, on)) {
      job.secure = on ? FtpSecurity::explicitTls : FtpSecurity::none;
    } else {
      return printAndLog(fmt::format("Invalid secure value: {}{}Valid value is true, false or "
                                     "implicit",
                                     value, kLineBreak()),
                         false);
    }
    return true;
  });
  ok = ok && applyBoolean(arguments, "verify", job.verify, "Invalid verify value: ", "Valid");
  if (!ok) return false;
  for (const std::string& value : arguments.values("cafile")) job.cafile = value;
  if (!applyBoolean(arguments, "exitcodes", job.exitCodes, "Invalid exitcodes value: ", "Valid")) {
    return false;
  }
  for (const std::string& value : arguments.values("report")) job.report = value;
  if (!applyBoolean(arguments, "quiet", job.quiet, "Invalid quiet value: ", "Valid")) return false;
  if (!applyBoolean(arguments, "mlsd", job.mlsd, "Invalid mlsd value: ", "Valid") ||
      !applyBoolean(arguments, "keeptime", job.keeptime, "Invalid keeptime value: ", "Valid") ||
      !applyBoolean(arguments, "newer", job.newer, "Invalid newer value: ", "Valid")) {
    return false;
  }
  // Only a file that carries its listed time can be told unchanged by the next run.
  if (job.newer) job.keeptime = true;
  // TLS from the first byte has a port of its own.
  if (job.secure == FtpSecurity::implicitTls && arguments.values("port").empty()) {
    job.port = kImplicitTlsPort;
  }
  return true;
}

}  // namespace marlowick
