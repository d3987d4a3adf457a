#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "kestrelkit/net/ftp/PatternMatch.h"

namespace kestrelkit::net::ftp {
namespace {

// The matcher written the plain way: walk the pattern, recurse at every star over every
// non-empty tail. Exponential, so only fed short patterns.
bool referenceSame(char a, char b) {
  const auto up = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte;
  };
  return up(a) == up(b);
}

bool referenceMatch(std::string_view name, std::string_view pattern) {
  std::size_t n = 0;
  for (std::size_t p = 0; p < pattern.size(); ++p) {
    const char c = pattern[p];
    if (c == '*') {
      if (p + 1 == pattern.size()) return true;
      for (std::size_t k = n; k < name.size(); ++k) {
        if (referenceMatch(name.substr(k), pattern.substr(p + 1))) return true;
      }
      return false;
    }
    if (n >= name.size()) return false;
    const char b = name[n++];
    if (c == '?') continue;
    if (c != '[') {
      if (!referenceSame(c, b)) return false;
      continue;
    }
    ++p;
    const bool negated = p < pattern.size() && pattern[p] == '!';
    if (negated) ++p;
    bool member = false;
    for (; p < pattern.size() && pattern[p] != ']'; ++p)
      member = member || referenceSame(pattern[p], b);
    if (p == pattern.size()) return false;  // never closed
    if (member == negated) return false;
  }
  return n == name.size();
}

std::string printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte < 127) {
      out += c;
    } else {
      static const char digits[] = "0123456789ABCDEF";
      out += "\\x";
      out += digits[byte >> 4];
      out += digits[byte & 15];
    }
  }
  return out;
}

class PairGenerator {
 public:
  explicit PairGenerator(std::uint32_t seed) : random_(seed) {}

  // A pattern of at most `maxLength` bytes holding at most `maxStars` stars.
  std::string pattern(std::size_t maxLength, int maxStars) {
    static constexpr std::string_view kBytes = "??[[]]!/-aAbBzZ{`@\xC3\xA9\x89";
    std::string out;
    const std::size_t length = below(maxLength + 1);
    int stars = 0;
    while (out.size() < length) {
      if (stars < maxStars && below(5) == 0) {
        out += '*';
        ++stars;
      } else {
        out += pick(kBytes);
      }
    }
    return out;
  }

  // Either random bytes or a name built to fit the pattern, sometimes disturbed, so that both
  // outcomes are common.
  std::string name(std::string_view pattern, std::size_t maxLength) {
    static constexpr std::string_view kBytes = "aAbBzZ{`@/-!*?[]\xC3\xA9\x89";
    std::string out;
    if (below(2) == 0) {
      const std::size_t length = below(maxLength + 1);
      while (out.size() < length) out += pick(kBytes);
      return out;
    }
    for (std::size_t p = 0; p < pattern.size(); ++p) {
      const char c = pattern[p];
      if (c == '*') {
        for (std::size_t k = below(4); k > 0; --k) out += pick(kBytes);
      } else if (c == '?') {
        out += pick(kBytes);
      } else if (c == '[') {
        const std::size_t close = pattern.find(']', p + 1);
        if (close == std::string_view::npos) break;
        const std::string_view members = pattern.substr(p + 1, close - p - 1);
        out += members.empty() || below(3) == 0 ? pick(kBytes) : pick(members);
        p = close;
      } else {
        out += below(4) == 0 ? flipCase(c) : c;
      }
    }
    if (!out.empty() && below(8) == 0) out.erase(below(out.size()), 1);
    if (below(8) == 0) out.insert(below(out.size() + 1), 1, pick(kBytes));
    return out;
  }

 private:
  std::size_t below(std::size_t bound) { return static_cast<std::size_t>(random_() % bound); }
  char pick(std::string_view bytes) { return bytes[below(bytes.size())]; }
  static char flipCase(char c) {
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 32);
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c + 32);
    return c;
  }

  std::mt19937 random_;
};

struct Tally {
  int matched = 0;
  int failures = 0;
};

void compare(PairGenerator& generator, int pairs, std::size_t patternLength, int maxStars,
             std::size_t nameLength, Tally& tally) {
  for (int i = 0; i < pairs && tally.failures < 10; ++i) {
    const std::string pattern = generator.pattern(patternLength, maxStars);
    const std::string name = generator.name(pattern, nameLength);
    const bool expected = referenceMatch(name, pattern);
    if (patternMatch(name, pattern) != expected) {
      ++tally.failures;
      ADD_FAILURE() << "pattern \"" << printable(pattern) << "\" name \"" << printable(name)
                    << "\": expected " << (expected ? "match" : "no match");
    }
    if (expected) ++tally.matched;
  }
}

TEST(PatternMatchDifferential, AgreesWithPlainRecursiveMatcher) {
  PairGenerator generator(20240611u);
  Tally tally;
  constexpr int kShortPairs = 900'000;
  constexpr int kLongPairs = 100'000;
  compare(generator, kShortPairs, 8, 3, 10, tally);
  // Longer names with at most two stars keep the reference cheap.
  compare(generator, kLongPairs, 14, 2, 40, tally);
  EXPECT_EQ(tally.failures, 0);
  // Both outcomes must be well represented, or the comparison proves little.
  EXPECT_GT(tally.matched, (kShortPairs + kLongPairs) / 10);
  EXPECT_LT(tally.matched, (kShortPairs + kLongPairs) * 9 / 10);
}

}  // namespace
}  // namespace kestrelkit::net::ftp
