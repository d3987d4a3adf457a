#include "marlowick/Credentials.h"

#include <fmt/format.h>

#include <optional>
#include <string_view>

#include "marlowick/ConsoleOutput.h"
#include "marlowick/Netrc.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "util/Arguments.h"

namespace marlowick {
namespace {

constexpr std::string_view kPasswordName = "--password";

/// The netrc entry for `host`, or none when there is no netrc file or it may not be used.
NetrcEntry netrcFor(const std::string& host) {
  const std::string path = platform::netrcPath();
  if (path.empty() || platform::pathKind(path) == platform::PathKind::missing) return {};
  if (std::string problem = platform::sharedFileProblem(path); !problem.empty()) {
    printAndLog(fmt::format("The netrc file {} is not used: {} (chmod 600 {})", path, problem,
                            path),
                false);
    return {};
  }
  std::string text, error;
  if (!platform::readWholeFile(path, text, &error)) {
    printAndLog(fmt::format("The netrc file is not used: {}", error), false);
    return {};
  }
  return netrcEntry(text, host);
}

std::string lastValue(const util::Arguments& arguments, const char* name) {
  const auto& values = arguments.values(name);
  return values.empty() ? std::string() : values.back();
}

}  // namespace

std::vector<SecretSpan> passwordSpans(const std::vector<std::string>& args) {
  std::vector<SecretSpan> spans;
  bool inPassword = false;  // plain words are values of the argument named last
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& token = args[i];
    const int index = static_cast<int>(i);
    if (token.empty() || token[0] != '-') {
      if (inPassword && !token.empty()) spans.push_back({index, 0});
      continue;
    }
    if (token == "-" || token == "--") continue;  // names nothing
    const bool isLong = token.starts_with("--");
    const std::size_t separator = token.find_first_of(":=", isLong ? 2 : 1);
    const std::string_view name = std::string_view(token).substr(0, separator);
    inPassword = isLong && name == kPasswordName;
    if (inPassword && separator != std::string::npos && separator + 1 < token.size()) {
      spans.push_back({index, separator + 1});
    }
  }
  return spans;
}

bool supplyCredentials(const util::Arguments& arguments, std::vector<std::string>& tokens) {
  const std::string host = lastValue(arguments, "host");
  const bool needUser = arguments.firstValue("username").empty();
  const bool needPassword = arguments.firstValue("password").empty();
  // Without a server no entry can be chosen; the request stops at the missing host anyway.
  if (host.empty() || (!needUser && !needPassword)) return false;
  std::string password;
  if (needPassword) password = platform::environmentVariable(kPasswordVariable).value_or("");
  std::string username = lastValue(arguments, "username");
  bool added = false;
  if (needUser || password.empty()) {
    const NetrcEntry entry = netrcFor(host);
    if (needUser && !entry.login.empty()) {
      username = entry.login;
      tokens.push_back("--username=" + username);
      added = true;
    }
    if (needPassword && password.empty() && entry.found &&
        (entry.login.empty() || entry.login == username)) {
      password = entry.password;
    }
  }
  if (needPassword && !password.empty()) {
    tokens.push_back("--password=" + password);
    added = true;
  }
  return added;
}

}  // namespace marlowick
