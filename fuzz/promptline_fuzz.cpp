// libFuzzer target: any typed line through the prompt's splitting and its exit-word test.
#include <cstddef>
#include <cstdint>
#include <string>

#include "marlowick/PromptLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const auto tokens = marlowick::splitCommandLine(line);
  std::size_t total = 0;
  for (const std::string& token : tokens) {
    // Tokens are pieces of the line, in order, never more than it holds.
    if (line.find(token) == std::string::npos) __builtin_trap();
    total += token.size();
  }
  if (total > line.size()) __builtin_trap();
  // White space around the line changes nothing.
  if (marlowick::splitCommandLine(" \t" + line + "\r\n") != tokens) __builtin_trap();
  marlowick::endsWithExitWord(line);
  return 0;
}
