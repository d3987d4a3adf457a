#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace util {

/// `text` without blanks, TABs, CRs, LFs, vertical tabs and form feeds at either end.
std::string_view trimmed(std::string_view text);

/// `c` with an ASCII capital made small; every other byte, those from 128 up included, unchanged.
constexpr char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

/// `text` with every ASCII capital made small.
std::string lowerAscii(std::string_view text);

/// A span as messages show it, in seconds: "60 s", "0.5 s", "0.25 s".
std::string durationText(std::chrono::milliseconds span);

}  // namespace util
