#pragma once

#include <string>
#include <vector>

namespace marlowick {

/// Splits a typed line into tokens: blanks separate, a leading double quote groups. White space
/// around the line and between tokens is dropped; a token of two adjacent quotes is empty.
std::vector<std::string> splitCommandLine(const std::string& line);

/// True when a typed line ends the prompt: longer than three characters and ending in "exit" or
/// "quit" (small letters). Such a line is never run.
bool endsWithExitWord(const std::string& line);

}  // namespace marlowick
