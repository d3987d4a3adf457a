#include "platform/LineEditor.h"

#include "platform/Console.h"

namespace platform {

// A real console edits the typed line itself (cursor keys, backspace, F7 and the arrows for
// earlier lines), so both a console and redirected input are simply read line by line.
struct LineEditor::State {};

LineEditor::LineEditor() : state_(std::make_unique<State>()) {}

LineEditor::~LineEditor() = default;

bool LineEditor::readLine(const std::string& prompt, std::string& line) {
  consoleWrite(prompt);
  consoleFlush();
  return consoleReadLine(line);
}

}  // namespace platform
