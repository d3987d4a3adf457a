#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marlowick {

/// `text` without the double quotes at either end (every one of them).
std::string stripQuotes(std::string_view text);

/// A response file's bytes as UTF-8: by its byte-order mark (UTF-8, UTF-16 or UTF-32, either
/// byte order), else in the character set of the locale. Throws std::runtime_error when the
/// system cannot convert from that character set.
std::string decodeResponseFile(std::string_view bytes);

/// The argument tokens of a response file's text: one per line (LF or CR LF), each without white
/// space at its ends and, when it starts with a double quote, without its quotes; blank lines
/// give none.
std::vector<std::string> responseFileTokens(std::string_view text);

}  // namespace marlowick
