#include "marlowick/ArgumentCheck.h"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>

#include "util/Arguments.h"
#include "util/Text.h"

namespace marlowick {
namespace {

// Every name a request reads, the declared aliases too: an unknown name is ignored, so a typo
// would otherwise change a run without a word. A new argument belongs here as well.
constexpr std::string_view kKnownNames[] = {
    "host",        "port",      "username", "password",   "remote",    "local",     "passive",
    "recurse",     "include",   "exclude",  "size",       "modified",  "lsize",     "gsize",
    "lmodified",   "gmodified", "maxfiles", "maxfolders", "overwrite", "justPrint", "image",
    "connections", "timeout",   "retries",  "resume",     "secure",    "verify",    "cafile",
    "exitcodes",   "report",    "quiet",    "deadline",   "mlsd",      "keeptime",  "newer",
    "justprint",   "JUSTPRINT", "test",     "1size",      "1modified"};

bool isKnown(std::string_view name) {
  return std::find(std::begin(kKnownNames), std::end(kKnownNames), name) != std::end(kKnownNames);
}

// Edits that turn `a` into `b`: a letter added, dropped or changed, or two neighbours swapped
// ("prot" for "port"), each counting one.
std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t changed = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + changed});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// Short names differ from each other by little: only one slip counts as a typo there.
std::size_t slipsAllowed(std::string_view name) {
  if (name.size() <= 4) return 1;
  return name.size() <= 8 ? 2 : 3;
}

// An alias is suggested as the name it stands for.
std::string_view declaredName(std::string_view name) {
  if (name == "justprint" || name == "JUSTPRINT" || name == "test") return "justPrint";
  if (name == "1size") return "lsize";
  if (name == "1modified") return "lmodified";
  return name;
}

struct Token {
  bool named = false;   // begins with "-" or "--" and names something
  bool valued = false;  // and carries its value after "=" or ":"
  bool passed = false;  // only "-" or "--": the parser drops it, the argument before stays
};

Token readToken(std::string_view token) {
  if (!token.starts_with('-')) return {};
  const std::string_view text = token.substr(token.starts_with("--") ? 2 : 1);
  if (text.empty()) return {false, false, true};
  const std::size_t separator = text.find_first_of(":=");
  if (separator == 0) return {true, false};
  return {true, separator != std::string_view::npos && separator + 1 < text.size()};
}

std::string strayMessage(const std::string& word, const std::string& owner) {
  // "recurse=true" without its dashes: the argument that was surely meant.
  const std::size_t separator = word.find_first_of(":=");
  if (separator != std::string::npos && separator > 0) {
    const std::string meant = closestArgumentName(std::string_view(word).substr(0, separator));
    if (!meant.empty()) {
      return fmt::format("Unknown argument {} ignored; did you mean --{}{}?", word, meant,
                         word.substr(separator));
    }
  }
  return fmt::format("Unknown argument {} ignored; {} already has its value", word, owner);
}

}  // namespace

std::string closestArgumentName(std::string_view name) {
  const std::string lowered = util::lowerAscii(name);
  std::string_view best;
  std::size_t bestDistance = slipsAllowed(name) + 1;
  auto consider = [&](std::string_view known) {
    const std::size_t distance = editDistance(lowered, util::lowerAscii(known));
    if (distance < bestDistance) {
      bestDistance = distance;
      best = declaredName(known);
    }
  };
  for (std::string_view known : kKnownNames) consider(known);
  return std::string(best);
}

std::vector<std::string> takeStrayWords(std::vector<std::string>& tokens) {
  std::vector<std::string> messages;
  std::vector<std::string> kept;
  std::string owner;
  bool valued = false;
  for (std::string& token : tokens) {
    const Token read = readToken(token);
    if (!read.named && !read.passed && valued) {
      messages.push_back(strayMessage(token, owner));
      continue;
    }
    if (read.named) {
      valued = read.valued;
      owner = token.substr(0, token.find_first_of(":="));
    }
    kept.push_back(std::move(token));
  }
  tokens = std::move(kept);
  return messages;
}

std::vector<std::string> unknownArgumentMessages(const util::Arguments& arguments) {
  std::vector<std::string> messages;
  for (const std::string& name : arguments.names()) {
    if (isKnown(name)) continue;
    // A one-letter name mostly comes from "-x" (or one letter of "-xyz").
    const std::string given = (name.size() == 1 ? "-" : "--") + name;
    const std::string meant = closestArgumentName(name);
    messages.push_back(
        meant.empty()
            ? fmt::format("Unknown argument {} ignored", given)
            : fmt::format("Unknown argument {} ignored; did you mean --{}?", given, meant));
  }
  return messages;
}

}  // namespace marlowick
