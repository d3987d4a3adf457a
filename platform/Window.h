#pragma once

namespace platform {

struct WindowRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

/// The console window's rectangle in pixels; false where there is no movable console window.
bool consoleWindowRect(WindowRect& rect);

/// Moves and resizes the console window, repainting it.
void moveConsoleWindow(int left, int top, int width, int height);

}  // namespace platform
