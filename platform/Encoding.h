#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

/// Code page number of UTF-8.
inline constexpr std::uint32_t kCodePageUtf8 = 65001;

/// Sets the process's locale to the user's, once at start-up, so that everything that reads
/// typed text (the line editor) uses the user's character set. The C/POSIX locale, whose set
/// is plain ASCII, counts as UTF-8 here. Where the system hands the program wide text anyway,
/// nothing changes.
void useUserLocale();

/// The character set of the user's locale, as the system names it (for example "UTF-8" or
/// "ISO-8859-1"); the C/POSIX locale gives "UTF-8", as cron's and containers' names and files
/// are UTF-8 in practice. Read from the environment on every call; the process's own locale is
/// not changed.
std::string localeCharset();

/// The character set of a code page number: 0 is the locale's, 65001 is UTF-8, other numbers
/// are the system's names for them (1252 → "CP1252", 28591 → "ISO-8859-1").
std::string codePageCharset(std::uint32_t codePage);

/// `bytes` in `charset` as UTF-8. A byte sequence that is not valid in `charset` becomes
/// U+FFFD. Throws std::runtime_error when the system cannot convert from `charset`.
std::string toUtf8(std::string_view bytes, const std::string& charset);

/// UTF-8 `text` in `charset`. Invalid UTF-8 counts as U+FFFD; a character that `charset`
/// cannot hold becomes "?". Throws std::runtime_error when the system cannot convert to
/// `charset`.
std::string fromUtf8(std::string_view text, const std::string& charset);

}  // namespace platform
