#include "platform/Window.h"

#include <windows.h>

namespace platform {

bool consoleWindowRect(WindowRect& rect) {
  HWND window = ::GetConsoleWindow();
  if (window == nullptr) return false;
  RECT area{};
  if (!::GetWindowRect(window, &area)) return false;
  rect = WindowRect{area.left, area.top, area.right, area.bottom};
  return true;
}

void moveConsoleWindow(int left, int top, int width, int height) {
  HWND window = ::GetConsoleWindow();
  if (window != nullptr) ::MoveWindow(window, left, top, width, height, TRUE);
}

}  // namespace platform
