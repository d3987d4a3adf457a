#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/Wide.h"

namespace platform {

const std::string_view kLineEnd = "\r\n";

// A missing standard handle is never handed to a file the program opens later: nothing to do.
void ensureStandardStreams() {}

namespace {

bool isConsole(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

// Redirected streams carry the program's bytes unchanged: the line ends are already native, so
// the C runtime must not translate them again. Set on every use, since a descriptor put in place
// later (dup2) brings its own mode.
void useBinary(std::FILE* stream) { ::_setmode(::_fileno(stream), _O_BINARY); }

// A real console takes UTF-16; one call per text keeps a character from being split.
void writeToConsole(std::string_view text) {
  std::wstring wide = win32::widen(text);
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const wchar_t* next = wide.data();
  std::size_t left = wide.size();
  while (left > 0) {
    DWORD written = 0;
    DWORD piece = left > 16384 ? 16384 : static_cast<DWORD>(left);
    if (!::WriteConsoleW(out, next, piece, &written, nullptr) || written == 0) return;
    next += written;
    left -= written;
  }
}

// Reads one line from a real console as UTF-16. False when the console gives no more input.
bool readFromConsole(std::wstring& wide) {
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  wchar_t buffer[512];
  for (;;) {
    DWORD got = 0;
    if (!::ReadConsoleW(in, buffer, 512, &got, nullptr)) return false;
    // Ctrl+C is handled elsewhere and ends a read with nothing in it: read on.
    if (got == 0) continue;
    wide.append(buffer, got);
    if (wide.back() == L'\n') return true;
  }
}

}  // namespace

void consoleWrite(std::string_view text) {
  if (text.empty()) return;
  if (stdoutIsTerminal()) {
    // What was written before through the C runtime must come first.
    std::fflush(stdout);
    writeToConsole(text);
    return;
  }
  useBinary(stdout);
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void consoleFlush() { std::fflush(stdout); }

bool stdoutIsTerminal() { return isConsole(STD_OUTPUT_HANDLE); }

bool stdinIsTerminal() { return isConsole(STD_INPUT_HANDLE); }

void setConsoleTitle(const std::string& title) { ::SetConsoleTitleW(win32::widen(title).c_str()); }

bool consoleReadLine(std::string& line) {
  line.clear();
  if (stdinIsTerminal()) {
    std::wstring wide;
    bool more = readFromConsole(wide);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r')) wide.pop_back();
    // Ctrl+Z alone on a line is the console's end of input.
    if (wide == L"\x1a") return false;
    line = win32::narrow(wide);
    return more;
  }
  useBinary(stdin);
  for (;;) {
    int c = std::getchar();
    if (c == EOF) break;
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return false;
}

}  // namespace platform
