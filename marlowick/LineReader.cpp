#include "marlowick/LineReader.h"

#include "marlowick/Util.h"
#include "platform/Console.h"

namespace marlowick {

bool LineReader::readLine(const std::string& prompt, std::string& line) {
  consolePrint(prompt);
  bool more = platform::consoleReadLine(line);
  // A line typed on a Windows machine and piped here still ends at its CR LF.
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return more;
}

}  // namespace marlowick
