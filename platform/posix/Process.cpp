#include "platform/Process.h"

#include <cstdlib>
#include <cstring>

namespace platform {

// The arguments arrive already split, as bytes; the program takes them as UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void hideArgument(int argc, char** argv, int index, std::size_t from) {
  if (index < 0 || index >= argc || argv[index] == nullptr) return;
  const std::size_t length = std::strlen(argv[index]);
  // Same length, so that the arguments after it stay where the listings expect them.
  if (from < length) std::memset(argv[index] + from, '*', length - from);
}

std::optional<std::string> environmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace platform
