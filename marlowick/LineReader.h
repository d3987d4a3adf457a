#pragma once

#include <string>

namespace marlowick {

/// Reads typed lines after a prompt. Redirected input is read byte for byte; a terminal gets
/// line editing and history.
class LineReader {
 public:
  /// Shows `prompt`, reads one line without its line end into `line`. Returns false at the end
  /// of input; a last line that came with the end of input is still in `line`.
  bool readLine(const std::string& prompt, std::string& line);
};

}  // namespace marlowick
