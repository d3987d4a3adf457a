// libFuzzer target: any pattern against any name, through the matcher and the "|" pattern lists.
// The first byte says where the pattern ends and the name begins.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kestrelkit/net/ftp/PatternMatch.h"

namespace {

std::string lowered(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrelkit::net::ftp;
  if (size < 1) return 0;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t cut = data[0] < input.size() ? data[0] : input.size();
  const std::string pattern = input.substr(0, cut);
  const std::string name = input.substr(cut);

  const bool matched = patternMatch(name, pattern);
  // Without wildcard bytes a pattern is a name that ignores the case of ASCII letters.
  if (pattern.find_first_of("*?[") == std::string::npos &&
      matched != (lowered(pattern) == lowered(name))) {
    __builtin_trap();
  }
  // One "?" per byte matches any name of that length.
  if (!patternMatch(name, std::string(name.size(), '?'))) __builtin_trap();
  matchesAny(splitPatterns(pattern), name);
  return 0;
}
