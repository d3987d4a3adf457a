#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

/// The process's argument list as UTF-8 texts, the program path first. Where the system keeps
/// the command line as one wide text, it is split by the system's own rules and converted;
/// elsewhere `argv` is taken as it is. `argc` and `argv` are those given to main.
std::vector<std::string> commandLineArguments(int argc, char** argv);

/// Overwrites argument `index` of main's `argv` from byte `from` to its end, in the process's
/// own memory, which is where the system's process listings (ps, /proc/PID/cmdline) read the
/// command line from: a secret given there stops showing. Where the system keeps the command
/// line elsewhere (Windows), nothing can be hidden and nothing happens. Texts already taken from
/// `argv` keep their copy.
void hideArgument(int argc, char** argv, int index, std::size_t from);

/// The value of the environment variable `name` (UTF-8), or nothing when it is not set.
std::optional<std::string> environmentVariable(const std::string& name);

}  // namespace platform
