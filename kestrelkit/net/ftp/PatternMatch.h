#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrelkit::net::ftp {

/// True when the whole `name` matches the whole wildcard `pattern`, byte by byte.
///
/// "*" matches any run of bytes, "/" included. A "*" that is the last byte of the pattern
/// matches whatever is left, even nothing; any other "*" leaves at least one byte for the
/// rest of the pattern, so "**" needs a non-empty name and "a**" does not match "a".
/// "?" matches one byte. "[abc]" matches one byte of the class and "[!abc]" one byte outside
/// it; there are no ranges or escapes and the first "]" closes the class, so "[]" matches
/// nothing and "[!]" any one byte. ASCII letters match regardless of case; every other byte
/// (all bytes from 128 up) only matches itself. A pattern with an unclosed "[" matches no name.
///
/// Runs in time proportional to the product of the two lengths, whatever the pattern.
bool patternMatch(std::string_view name, std::string_view pattern);

/// `pattern` without leading and trailing space, TAB, CR, LF, form feed and vertical tab.
std::string trimmed(std::string_view pattern);

/// The members of a "|"-separated pattern list, untrimmed and in order. An empty `value`
/// gives no members; otherwise every piece is a member, empty pieces included.
std::vector<std::string> splitPatterns(std::string_view value);

/// True when some member of `patterns`, trimmed, matches `name`. An empty member matches no
/// non-empty name.
bool matchesAny(const std::vector<std::string>& patterns, std::string_view name);

}  // namespace kestrelkit::net::ftp
