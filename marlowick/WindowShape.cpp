#include "marlowick/WindowShape.h"

#include <cmath>

#include "platform/Window.h"

namespace marlowick {

WindowSize fourByThree(WindowSize size) {
  int tall = static_cast<int>(std::ceil(size.height / 0.75));
  int wide = static_cast<int>(std::ceil(size.width * 0.75));
  if (wide > size.height) return {size.width, wide};
  if (size.width < tall) return {tall, size.height};
  return size;
}

void placeConsoleWindow() {
  platform::WindowRect rect;
  if (!platform::consoleWindowRect(rect)) return;
  WindowSize shaped = fourByThree({rect.right - rect.left, rect.bottom - rect.top});
  platform::moveConsoleWindow(rect.left, rect.top, shaped.width, shaped.height);
}

}  // namespace marlowick
