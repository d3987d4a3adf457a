#pragma once

namespace marlowick {

struct WindowSize {
  int width = 0;
  int height = 0;
  bool operator==(const WindowSize&) const = default;
};

/// The console window's new size: grown, never shrunk, to at least a 4:3 width-to-height
/// ratio on the side that is too short.
WindowSize fourByThree(WindowSize size);

/// Reshapes the console window by `fourByThree`; does nothing where windows cannot be moved.
void placeConsoleWindow();

}  // namespace marlowick
