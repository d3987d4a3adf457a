#pragma once

#include <string>
#include <vector>

namespace platform {

/// The process's argument list as UTF-8 texts, the program path first. Where the system keeps
/// the command line as one wide text, it is split by the system's own rules and converted;
/// elsewhere `argv` is taken as it is. `argc` and `argv` are those given to main.
std::vector<std::string> commandLineArguments(int argc, char** argv);

}  // namespace platform
