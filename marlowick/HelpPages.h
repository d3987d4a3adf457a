#pragma once

#include <string>

namespace marlowick {

/// The query text that tells a page where the visitor came from; blanks become "_".
std::string pageQuery(const std::string& sourceWord);

/// Base address, then "?" (or "&" when the base already holds a "?", unless `alwaysQuestion`),
/// then the query text for `sourceWord`.
std::string pageAddress(const std::string& base, const std::string& sourceWord,
                        bool alwaysQuestion);

/// Opens a product page in the user's browser; never waits and never reports a failure.
void openPage(const std::string& base, const std::string& sourceWord);

/// The content of an internet-shortcut file that leads to `address`.
std::string shortcutContent(const std::string& address);

/// Writes the three shortcut files into `folder` (ending with the separator) where missing.
/// Throws std::runtime_error naming the file and the reason when one cannot be written.
void writeHelpShortcutsTo(const std::string& folder);

/// writeHelpShortcutsTo the program folder on Windows, the application folder elsewhere.
void writeHelpShortcuts();

}  // namespace marlowick
