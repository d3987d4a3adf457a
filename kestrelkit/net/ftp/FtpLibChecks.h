#pragma once

#include <string>
#include <string_view>

// Argument checks shared by FtpLib's operations before anything goes on the wire.
namespace kestrelkit::net::ftp::detail {

/// A NUL would cut the command short; CR or LF would end it and start another.
inline bool fitsOnCommandLine(const std::string& text) {
  return text.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos;
}

inline bool fitsOnCommandLine(const std::string& first, const std::string& second) {
  return fitsOnCommandLine(first) && fitsOnCommandLine(second);
}

/// `verb` with its argument, or alone when there is none: never a trailing blank.
inline std::string commandLine(const char* verb, const std::string& argument) {
  return argument.empty() ? std::string(verb) : std::string(verb) + " " + argument;
}

/// Local paths go to the system as C strings; an inner NUL would name another file.
inline bool isCString(const std::string& text) { return text.find('\0') == std::string::npos; }

/// The two transfer modes: 'A' (text) and 'I' (binary).
inline bool isTransferMode(char mode) { return mode == 'A' || mode == 'I'; }

}  // namespace kestrelkit::net::ftp::detail
