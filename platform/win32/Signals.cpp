#include "platform/Signals.h"

#include <windows.h>

namespace platform {
namespace {

// The system calls the routine on a thread of its own for each event; the handler is set once,
// before the routine is installed, and never changed afterwards.
std::function<bool(int)>& installedHandler() {
  static std::function<bool(int)> handler;
  return handler;
}

BOOL WINAPI consoleRoutine(DWORD event) {
  const auto& handler = installedHandler();
  return handler && handler(static_cast<int>(event)) ? TRUE : FALSE;
}

}  // namespace

// Close, log-off and shut-down end the process once the routine returns: the system does that.
bool installConsoleHandler(std::function<bool(int event)> handler) {
  installedHandler() = std::move(handler);
  return ::SetConsoleCtrlHandler(consoleRoutine, TRUE) != 0;
}

}  // namespace platform
