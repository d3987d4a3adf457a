#include "platform/Process.h"

namespace platform {

// The arguments arrive already split, as bytes; the program takes them as UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace platform
