#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestrelkit/net/ftp/PatternMatch.h"

namespace kestrelkit::net::ftp {
namespace {

struct MatchCase {
  std::string pattern;
  std::string name;
  bool matches;
};

TEST(PatternMatch, Table) {
  const std::vector<MatchCase> cases = {
      // A final star takes anything, even nothing; other stars need a non-empty rest.
      {"*", "", true},
      {"*", "sub/deeper/report.txt", true},
      {"**", "", false},
      {"**", "x", true},
      {"**", "sub/x", true},
      {"a*", "a", true},
      {"a**", "a", false},
      {"a**", "ab", true},
      {"*a", "a", true},
      {"*a", "", false},
      {"a*b", "ab", true},
      {"a*b*", "ab", true},
      {"a*b**", "ab", false},
      {"*?", "x", true},
      {"*?", "", false},
      {"*/*", "sub/x", true},
      {"*/*", "/x", true},
      {"*/*", "x", false},
      {"*a*a*a*b", "aaaaaaab", true},
      {"*a*a*a*b", "aaaaaaaa", false},
      // The whole relative path is matched, and "*" and "?" cross "/".
      {"*.TXT", "report.txt", true},
      {"*.TXT", "sub/report.Txt", true},
      {"report.txt", "sub/report.txt", false},
      {"report.txt", "REPORT.TXT", true},
      {"report.txt", "report.txt2", false},
      {"?", "/", true},
      {"?", "", false},
      {"?", "ab", false},
      // Classes: no ranges, "!" negates, the first "]" closes.
      {"[abc]x", "Bx", true},
      {"[ABC]x", "bx", true},
      {"[!abc]x", "ax", false},
      {"[!abc]x", "dx", true},
      {"[a-c]x", "-x", true},
      {"[a-c]x", "bx", false},
      {"[]", "", false},
      {"[]", "]", false},
      {"[]]", "]]", false},
      {"[]x", "ax", false},
      {"[]*", "abc", false},
      {"[!]x", "zx", true},
      {"[!]", "/", true},
      {"[!]", "!", true},
      {"[!]", "", false},
      {"[!!]", "!", false},
      {"[!!]", "x", true},
      {"[a!]", "!", true},
      {"[*]", "*", true},
      {"[*]", "x", false},
      {"[?]", "x", false},
      {"*[x]", "x", true},
      {"[ab]", "", false},
      // An unclosed class matches nothing, not even its own text.
      {"[", "[", false},
      {"a[b", "a[b", false},
      {"[!", "!", false},
      {"*[", "x[", false},
      {"[ab*", "a", false},
      // The empty pattern matches only the empty name.
      {"", "a", false},
      {"", "", true},
      // Only a..z fold; neighbours of the letters and bytes from 128 up compare exactly.
      {"z", "Z", true},
      {"Z", "z", true},
      {"{", "[", false},
      {"`", "@", false},
      {"\xC3\xA9", "\xC3\x89", false},  // é against É in UTF-8
      {"\xC3\xA9", "\xC3\xA9", true},
      {"\xE4", "\xC4", false},  // ä against Ä in Latin-1: the bytes differ by 32
      {"[\xE9]", "\xC9", false},
      {"[!\xE9]", "\xC9", true},
      {"?\xFF", "a\xFF", true},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(patternMatch(c.name, c.pattern), c.matches)
        << "pattern \"" << c.pattern << "\" name \"" << c.name << "\"";
  }
}

TEST(PatternMatch, TrimmedRemovesOnlyTheSixSpaceBytes) {
  EXPECT_EQ(trimmed(" \t\r\n\f\v*.zip \v\f\n\r\t "), "*.zip");
  EXPECT_EQ(trimmed("a b"), "a b");
  EXPECT_EQ(trimmed(" \t "), "");
  EXPECT_EQ(trimmed(""), "");
  EXPECT_EQ(trimmed("\xA0x\xA0"), "\xA0x\xA0");
  EXPECT_EQ(trimmed(std::string("\0x", 2)), std::string("\0x", 2));
}

TEST(PatternMatch, SplitKeepsEveryPieceUntrimmed) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"", {}},
      {"*.zip", {"*.zip"}},
      {"*.zip|*.rar", {"*.zip", "*.rar"}},
      {" a | b ", {" a ", " b "}},
      {"a|", {"a", ""}},
      {"|a", {"", "a"}},
      {"a||b", {"a", "", "b"}},
      {"|", {"", ""}},
  };
  for (const auto& [value, members] : cases) {
    EXPECT_EQ(splitPatterns(value), members) << "value \"" << value << "\"";
  }
}

TEST(PatternMatch, MatchesAnyTrimsMembersAndIgnoresEmptyOnes) {
  const auto includes = splitPatterns("*.zip|*.rar");
  const auto excludes = splitPatterns("old*");
  const auto accepted = [&](const std::string& name) {
    return matchesAny(includes, name) && !matchesAny(excludes, name);
  };
  EXPECT_FALSE(accepted("old.zip"));
  EXPECT_TRUE(accepted("new.rar"));
  EXPECT_FALSE(accepted("notes.txt"));

  EXPECT_TRUE(matchesAny(splitPatterns(" *.zip\t"), "a.zip"));
  EXPECT_TRUE(matchesAny(splitPatterns("x| a.zip |y"), "A.ZIP"));
  EXPECT_FALSE(matchesAny(splitPatterns(" a.zip "), " a.zip "));

  // Empty members, from a lone separator, doubled separators or a trailing one, never match.
  EXPECT_FALSE(matchesAny(splitPatterns("|"), "a"));
  EXPECT_FALSE(matchesAny(splitPatterns("x||y"), "a"));
  EXPECT_FALSE(matchesAny(splitPatterns("x| |"), "a"));
  EXPECT_FALSE(matchesAny({}, "a"));
}

}  // namespace
}  // namespace kestrelkit::net::ftp
