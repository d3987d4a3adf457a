#include "kestrelkit/net/ftp/PatternMatch.h"

#include <algorithm>

namespace kestrelkit::net::ftp {

namespace {

enum class TokenKind : unsigned char { star, anyByte, literal, byteClass };

/// One matching step of a pattern. `bytes` is the literal byte, or the members of a class.
struct Token {
  TokenKind kind;
  bool negated;
  std::string_view bytes;
};

unsigned char folded(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - 32) : byte;
}

bool sameByte(char a, char b) { return folded(a) == folded(b); }

bool isPatternSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view trimmedView(std::string_view text) {
  while (!text.empty() && isPatternSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isPatternSpace(text.back())) text.remove_suffix(1);
  return text;
}

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

/// Whether a single-byte step accepts the name byte `c`.
bool accepts(const Token& token, char c) {
  switch (token.kind) {
    case TokenKind::anyByte:
      return true;
    case TokenKind::literal:
      return sameByte(token.bytes[0], c);
    case TokenKind::byteClass: {
      const bool member = std::any_of(token.bytes.begin(), token.bytes.end(),
                                      [c](char m) { return sameByte(m, c); });
      return member != token.negated;
    }
    case TokenKind::star:
      break;
  }
  return false;
}

}  // namespace

bool patternMatch(std::string_view name, std::string_view pattern) {
  std::vector<Token> tokens;
  if (!tokenize(pattern, tokens)) return false;

  // Works backwards over the steps. Before handling step i, row[n] tells whether the steps
  // after i match the name from byte n on; afterwards it tells the same for the steps from i.
  const std::size_t length = name.size();
  std::vector<unsigned char> row(length + 1, 0);
  row[length] = 1;
  for (std::size_t i = tokens.size(); i-- > 0;) {
    const Token& token = tokens[i];
    if (token.kind != TokenKind::star) {
      for (std::size_t n = 0; n < length; ++n) row[n] = row[n + 1] && accepts(token, name[n]);
      row[length] = 0;
    } else if (i + 1 == tokens.size()) {
      // A final star takes whatever is left, even nothing.
      std::fill(row.begin(), row.end(), 1);
    } else {
      // Any other star hands the rest of the pattern a non-empty tail starting at n or later.
      row[length] = 0;
      for (std::size_t n = length; n-- > 0;) row[n] = row[n] || row[n + 1];
    }
  }
  return row[0] != 0;
}

std::string trimmed(std::string_view pattern) { return std::string(trimmedView(pattern)); }

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
    return patternMatch(name, trimmedView(pattern));
  });
}

}  // namespace kestrelkit::net::ftp
