#pragma once

#include <cstdint>
#include <string_view>

namespace marlowick {

/// "true" or "false" in any ASCII letter case; nothing else.
bool parseBoolean(std::string_view text, bool& value);

/// Decimal digits after leading blanks and tabs mixed with "+" and "-" signs (the last sign
/// decides); every character used, at least one digit, within 64 bits.
bool parseWholeNumber(std::string_view text, std::int64_t& value);

/// An optional single "+" and then decimal digits only, within 64 bits.
bool parseUnsignedNumber(std::string_view text, std::uint64_t& value);

/// `value` × `factor`; false when the product does not fit.
bool multiplyChecked(std::uint64_t value, std::uint64_t factor, std::uint64_t& product);
bool multiplyChecked(std::int64_t value, std::int64_t factor, std::int64_t& product);

}  // namespace marlowick
