#include "platform/Process.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <memory>

#include "platform/win32/Wide.h"

namespace platform {

// main's argv is in the ANSI code page and loses what it cannot hold: the wide command line is
// split again by the system's rules instead.
std::vector<std::string> commandLineArguments(int argc, char** argv) {
  int count = 0;
  std::unique_ptr<LPWSTR, decltype(&::LocalFree)> split(
      ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
  if (!split) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(win32::narrow(split.get()[i]));
  return arguments;
}

// The command line Windows shows for a process is a copy of its own, which no running program
// can change: a secret stays visible there, so it belongs in the environment or a file instead.
void hideArgument(int, char**, int, std::size_t) {}

std::optional<std::string> environmentVariable(const std::string& name) {
  const std::wstring wide = win32::widen(name);
  const DWORD needed = ::GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(wide.c_str(), value.data(), needed);
  if (length >= needed) return std::nullopt;
  value.resize(length);
  return win32::narrow(value);
}

}  // namespace platform
