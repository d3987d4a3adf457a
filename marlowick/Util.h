#pragma once

#include <string>
#include <string_view>

namespace marlowick {

/// Writes `text` and a line end to the console, then the same text to the log at level Info
/// (`isInfo`) or Error. Returns `isInfo`.
bool printAndLog(std::string_view text, bool isInfo);

/// Writes `text` and a line end to the console only, and flushes.
void consoleLine(std::string_view text);

/// Writes `text` to the console and flushes; no line end, nothing logged.
void consolePrint(std::string_view text);

}  // namespace marlowick
