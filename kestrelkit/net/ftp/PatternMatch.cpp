#include "kestrelkit/net/ftp/PatternMatch.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "util/Text.h"

namespace kestrelkit::net::ftp {

namespace {

enum class TokenKind : unsigned char { star, anyByte, literal, byteClass };

/// One matching step of a pattern. `bytes` is the literal byte, or the members of a class.
struct Token {
  TokenKind kind;
  bool negated;
  std::string_view bytes;
};

unsigned char folded(char c) { return static_cast<unsigned char>(util::lowerAscii(c)); }

/// Splits `pattern` into steps. Returns false when a class is never closed.
bool tokenize(std::string_view pattern, std::vector<Token>& tokens) {
  for (std::size_t p = 0; p < pattern.size(); ++p) {
    const char c = pattern[p];
    if (c == '*') {
      tokens.push_back({TokenKind::star, false, {}});
    } else if (c == '?') {
      tokens.push_back({TokenKind::anyByte, false, {}});
    } else if (c == '[') {
      std::size_t first = p + 1;
      const bool negated = first < pattern.size() && pattern[first] == '!';
      if (negated) ++first;
      const std::size_t close = pattern.find(']', first);
      if (close == std::string_view::npos) return false;
      tokens.push_back({TokenKind::byteClass, negated, pattern.substr(first, close - first)});
      p = close;
    } else {
      tokens.push_back({TokenKind::literal, false, pattern.substr(p, 1)});
    }
  }
  return true;
}

/// One column per name position, plus one for the end of the name.
using Row = std::vector<unsigned char>;

/// A one-byte step: position n matches when the step accepts byte n and the steps after it
/// match from n + 1. `accepts` sees folded bytes. Returns whether any position still matches.
template <typename Accepts>
bool stepOneByte(Row& row, std::string_view foldedName, Accepts accepts) {
  unsigned char any = 0;
  for (std::size_t n = 0; n < foldedName.size(); ++n) {
    const auto byte = static_cast<unsigned char>(foldedName[n]);
    row[n] = row[n + 1] & static_cast<unsigned char>(accepts(byte));
    any |= row[n];
  }
  row[foldedName.size()] = 0;
  return any != 0;
}

/// A star that is not the last step hands the rest a non-empty tail: position n matches when
/// the rest matches from some k with n <= k < length. Returns whether any position matches.
bool stepInnerStar(Row& row, std::size_t length) {
  row[length] = 0;
  std::size_t last = length;
  while (last > 0 && row[last - 1] == 0) --last;
  std::fill(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(last), 1);
  return last > 0;
}

bool stepClass(Row& row, std::string_view foldedName, const Token& token) {
  std::array<unsigned char, 256> inClass{};
  for (const char member : token.bytes) inClass[folded(member)] = 1;
  const unsigned char wanted = token.negated ? 0 : 1;
  return stepOneByte(row, foldedName, [&](unsigned char b) { return inClass[b] == wanted; });
}

std::string foldedText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(folded(c));
  return out;
}

}  // namespace

bool patternMatch(std::string_view name, std::string_view pattern) {
  std::vector<Token> tokens;
  if (!tokenize(pattern, tokens)) return false;

  // Works backwards over the steps. Before handling step i, row[n] tells whether the steps
  // after i match the name from byte n on; afterwards it tells the same for the steps from i.
  const std::string foldedName = foldedText(name);
  const std::size_t length = name.size();
  Row row(length + 1, 0);
  row[length] = 1;
  for (std::size_t i = tokens.size(); i-- > 0;) {
    const Token& token = tokens[i];
    bool anyLeft = true;
    switch (token.kind) {
      case TokenKind::star:
        if (i + 1 == tokens.size()) {
          // A final star takes whatever is left, even nothing.
          std::fill(row.begin(), row.end(), 1);
        } else {
          anyLeft = stepInnerStar(row, length);
        }
        break;
      case TokenKind::anyByte:
        anyLeft = stepOneByte(row, foldedName, [](unsigned char) { return true; });
        break;
      case TokenKind::literal: {
        const unsigned char wanted = folded(token.bytes[0]);
        anyLeft = stepOneByte(row, foldedName, [wanted](unsigned char b) { return b == wanted; });
        break;
      }
      case TokenKind::byteClass:
        anyLeft = stepClass(row, foldedName, token);
        break;
    }
    if (!anyLeft) return false;
  }
  return row[0] != 0;
}

std::string trimmed(std::string_view pattern) { return std::string(util::trimmed(pattern)); }

std::vector<std::string> splitPatterns(std::string_view value) {
  std::vector<std::string> members;
  if (value.empty()) return members;
  for (;;) {
    const std::size_t bar = value.find('|');
    members.emplace_back(value.substr(0, bar));
    if (bar == std::string_view::npos) break;
    value.remove_prefix(bar + 1);
  }
  return members;
}

bool matchesAny(const std::vector<std::string>& patterns, std::string_view name) {
  return std::any_of(patterns.begin(), patterns.end(), [name](const std::string& pattern) {
    return patternMatch(name, util::trimmed(pattern));
  });
}

}  // namespace kestrelkit::net::ftp
