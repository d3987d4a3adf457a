#include "platform/Window.h"

namespace platform {

// A terminal emulator owns its window; a console program cannot move it here.
bool consoleWindowRect(WindowRect&) { return false; }

void moveConsoleWindow(int, int, int, int) {}

}  // namespace platform
