#pragma once

#include <memory>
#include <string>

namespace platform {

/// Reads typed lines after a prompt. On a terminal the line can be edited (cursor keys,
/// backspace) and earlier lines come back with up and down; redirected input is read byte for
/// byte as it comes.
class LineEditor {
 public:
  LineEditor();
  ~LineEditor();
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  /// Shows `prompt` and reads one line without its line end into `line`. Returns false at the
  /// end of input; a last line that came with the end of input is still in `line`.
  bool readLine(const std::string& prompt, std::string& line);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
