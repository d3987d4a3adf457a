#pragma once

#include <string>
#include <string_view>

namespace platform {

/// The native line end of console lines, log lines and messages ("\r\n" on Windows, "\n"
/// elsewhere); defined by each platform's implementation. A NUL follows its last character.
extern const std::string_view kLineEnd;

/// Makes sure standard input, output and error are open, opening a closed one on the null
/// device: otherwise the next file the program opens (the log) would take its place and receive
/// whatever is written to the console. Call first thing at start-up.
void ensureStandardStreams();

/// Writes UTF-8 text to standard output; failures are not reported.
void consoleWrite(std::string_view text);

/// Flushes standard output.
void consoleFlush();

/// True when standard output is a terminal.
bool stdoutIsTerminal();

/// True when standard input is a terminal.
bool stdinIsTerminal();

/// Sets the terminal title (only when standard output is a terminal).
void setConsoleTitle(const std::string& title);

/// Reads one line from standard input without its line end. Returns false at end of input;
/// a last line without a line end is still returned in `line` (check it when false).
bool consoleReadLine(std::string& line);

}  // namespace platform
