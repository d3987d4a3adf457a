#include "marlowick/ValueText.h"

#include <limits>
#include <string>

#include "util/Text.h"

namespace marlowick {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits only, at least one, accumulated without overflow.
bool parseDigits(std::string_view digits, std::uint64_t& value) {
  if (digits.empty()) return false;
  std::uint64_t result = 0;
  for (char c : digits) {
    if (!isDigit(c)) return false;
    std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (result > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
    result = result * 10 + digit;
  }
  value = result;
  return true;
}

}  // namespace

bool parseBoolean(std::string_view text, bool& value) {
  if (text.size() != 4 && text.size() != 5) return false;
  const std::string lowered = util::lowerAscii(text);
  if (lowered == "true") value = true;
  else if (lowered == "false") value = false;
  else return false;
  return true;
}

bool parseWholeNumber(std::string_view text, std::int64_t& value) {
  size_t at = 0;
  bool negative = false;
  for (; at < text.size(); ++at) {
    char c = text[at];
    if (c == '-') negative = true;
    else if (c == '+') negative = false;
    else if (c != ' ' && c != '\t') break;
  }
  std::uint64_t magnitude = 0;
  if (!parseDigits(text.substr(at), magnitude)) return false;
  constexpr std::uint64_t kLargest = std::numeric_limits<std::int64_t>::max();
  if (negative) {
    if (magnitude > kLargest + 1) return false;
    value = magnitude == kLargest + 1 ? std::numeric_limits<std::int64_t>::min()
                                      : -static_cast<std::int64_t>(magnitude);
  } else {
    if (magnitude > kLargest) return false;
    value = static_cast<std::int64_t>(magnitude);
  }
  return true;
}

bool parseUnsignedNumber(std::string_view text, std::uint64_t& value) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  return parseDigits(text, value);
}

bool multiplyChecked(std::uint64_t value, std::uint64_t factor, std::uint64_t& product) {
  return !__builtin_mul_overflow(value, factor, &product);
}

bool multiplyChecked(std::int64_t value, std::int64_t factor, std::int64_t& product) {
  return !__builtin_mul_overflow(value, factor, &product);
}

}  // namespace marlowick
