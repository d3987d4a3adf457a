#include "platform/LineEditor.h"

#include <editline/readline.h>

#include <cstdlib>
#include <memory>

#include "platform/Console.h"

namespace platform {

struct LineEditor::State {
  bool edited = stdinIsTerminal() && stdoutIsTerminal();
};

LineEditor::LineEditor() : state_(std::make_unique<State>()) {
  if (state_->edited) {
    // Keep the terminal's own Ctrl+C handling: console events are ours, not the editor's.
    rl_catch_signals = 0;
    using_history();
  }
}

LineEditor::~LineEditor() {
  if (state_->edited) clear_history();
}

bool LineEditor::readLine(const std::string& prompt, std::string& line) {
  line.clear();
  if (!state_->edited) {
    consoleWrite(prompt);
    consoleFlush();
    bool more = consoleReadLine(line);
    // A line typed on a Windows machine and piped here still ends at its CR LF.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return more;
  }
  consoleFlush();
  std::unique_ptr<char, decltype(&std::free)> typed(readline(prompt.c_str()), &std::free);
  if (!typed) return false;
  line = typed.get();
  if (!line.empty()) add_history(typed.get());
  return true;
}

}  // namespace platform
