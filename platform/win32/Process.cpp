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

}  // namespace platform
