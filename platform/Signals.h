#pragma once

#include <functional>

namespace platform {

/// Console events, numbered as the program knows them.
enum ConsoleEvent : int {
  kCtrlC = 0,
  kCtrlBreak = 1,
  kClose = 2,
  kLogoff = 5,
  kShutdown = 6,
};

/// Installs `handler` for console events. Events are delivered on a dedicated thread, never
/// inside an asynchronous signal handler. After close and shut-down events the process ends the
/// way the system expects once the handler has returned. Must be called before any other thread
/// starts. Returns false when the handling cannot be installed.
bool installConsoleHandler(std::function<bool(int event)> handler);

}  // namespace platform
