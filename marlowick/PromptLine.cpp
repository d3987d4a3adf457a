#include "marlowick/PromptLine.h"

#include <string_view>

#include "util/Text.h"

namespace marlowick {

namespace {

std::string trimmed(std::string_view text) { return std::string(util::trimmed(text)); }

}  // namespace

std::vector<std::string> splitCommandLine(const std::string& line) {
  std::vector<std::string> tokens;
  std::string text = trimmed(line);
  while (!text.empty()) {
    if (text[0] == '"') {
      size_t close = text.find('"', 1);
      if (close != std::string::npos) {
        tokens.push_back(text.substr(1, close - 1));
        text = trimmed(std::string_view(text).substr(close + 1));
        continue;
      }
    }
    size_t blank = text.find(' ');
    if (blank == std::string::npos) {
      tokens.push_back(text);
      break;
    }
    tokens.push_back(text.substr(0, blank));
    text = trimmed(std::string_view(text).substr(blank + 1));
  }
  return tokens;
}

bool endsWithExitWord(const std::string& line) {
  if (line.size() <= 3) return false;
  std::string_view last4 = std::string_view(line).substr(line.size() - 4);
  return last4 == "exit" || last4 == "quit";
}

}  // namespace marlowick
