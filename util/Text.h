#pragma once

#include <string>
#include <string_view>

namespace util {

/// `text` without blanks, TABs, CRs, LFs, vertical tabs and form feeds at either end.
std::string_view trimmed(std::string_view text);

/// `c` with an ASCII capital made small; every other byte, those from 128 up included, unchanged.
constexpr char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

/// `text` with every ASCII capital made small.
std::string lowerAscii(std::string_view text);

}  // namespace util
