#pragma once

#include <string>

namespace marlowick {

/// The query text that tells a page where the visitor came from; blanks become "_".
std::string pageQuery(const std::string& sourceWord);

/// Base address, then "?" (or "&" when the base already holds a "?", unless `alwaysQuestion`),
/// then the query text for `sourceWord`.
std::string pageAddress(const std::string& base, const std::string& sourceWord,
                        bool alwaysQuestion);

/// Opens a product page in the user's browser, or prints its address when there is none to open
/// it with (a machine without a desktop). Never waits beyond a short while.
void openPage(const std::string& base, const std::string& sourceWord);

/// Hands `target` to the desktop's open action; prints it instead when that cannot open it.
void openOrShow(const std::string& target);

/// The content of an internet-shortcut file that leads to `address`.
std::string shortcutContent(const std::string& address);

/// Writes the three shortcut files into `folder` (ending with the separator) where missing.
/// Throws std::runtime_error naming the file and the reason when one cannot be written.
void writeHelpShortcutsTo(const std::string& folder);

/// writeHelpShortcutsTo the program folder on Windows, the application folder elsewhere.
void writeHelpShortcuts();

}  // namespace marlowick
