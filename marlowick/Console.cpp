#include <string>
#include <vector>

#include "marlowick/Config.h"
#include "marlowick/Downloading.h"
#include "marlowick/PromptLine.h"
#include "marlowick/ConsoleOutput.h"
#include "platform/LineEditor.h"
#include "util/Text.h"

namespace marlowick {

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
