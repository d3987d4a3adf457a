#include <string>
#include <string_view>
#include <vector>

#include "marlowick/Config.h"
#include "marlowick/Downloading.h"
#include "marlowick/Util.h"
#include "platform/LineEditor.h"
#include "util/Text.h"

namespace marlowick {

namespace {

std::string trimmed(std::string_view text) { return std::string(util::trimmed(text)); }

bool endsWithExitWord(const std::string& line) {
  if (line.size() <= 3) return false;
  std::string_view last4 = std::string_view(line).substr(line.size() - 4);
  return last4 == "exit" || last4 == "quit";
}

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

bool Downloading::runCommand(std::vector<std::string>& tokens) {
  if (tokens.empty()) return false;
  std::string& token = tokens[0];
  const std::size_t wordStart = token.find_first_not_of('-');
  const std::string word =
      util::lowerAscii(wordStart == std::string::npos ? "" : token.substr(wordStart));
  // The request that follows a non-command gets the token lowered too, except a response-file
  // name: file names are case-sensitive here.
  if (token.empty() || token[0] != '@') token = util::lowerAscii(token);
  const Config& settings = config();
  if (word == "?" || word == "help") {
    consolePrint(settings.helpText());
  } else if (word == "version") {
    consolePrint(settings.bannerText());
  } else if (word == "log") {
    settings.openLog();
  } else if (word == "man") {
    settings.openHowToPage();
  } else if (word == "home") {
    settings.openHomePage();
  } else {
    return false;
  }
  return true;
}

void Downloading::consoleLoop() {
  consolePrint(config().bannerText());
  platform::LineEditor editor;
  bool goOn = true;
  do {
    std::string line;
    goOn = editor.readLine(" Marlowick>", line);
    if (endsWithExitWord(line)) {
      goOn = false;
      continue;
    }
    std::vector<std::string> tokens = splitCommandLine(line);
    if (tokens.size() == 1) {
      if (!runCommand(tokens)) runDownload(tokens);
    } else if (tokens.size() > 1) {
      runDownload(tokens);
    }
  } while (goOn);
}

}  // namespace marlowick
