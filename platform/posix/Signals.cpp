#include "platform/Signals.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace platform {
namespace {

int eventOf(int signalNumber) {
  switch (signalNumber) {
    case SIGINT:
      return kCtrlC;
    case SIGQUIT:
      return kCtrlBreak;
    case SIGHUP:
      return kClose;
    default:
      return kShutdown;
  }
}

// Hands the signal back to the system with its default action, so the process ends as the
// sender expects (exit status shows the signal).
[[noreturn]] void endBySignal(int signalNumber) {
  ::signal(signalNumber, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signalNumber);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signalNumber);
  std::_Exit(128 + signalNumber);
}

}  // namespace

bool installConsoleHandler(std::function<bool(int event)> handler) {
  sigset_t watched;
  sigemptyset(&watched);
  for (int signalNumber : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) sigaddset(&watched, signalNumber);
  // Blocked in this thread before any other starts, so every later thread inherits the mask and
  // the signals reach only the waiting thread.
  if (::pthread_sigmask(SIG_BLOCK, &watched, nullptr) != 0) return false;
  try {
    std::thread([watched, handler = std::move(handler)] {
      for (;;) {
        int signalNumber = 0;
        if (::sigwait(&watched, &signalNumber) != 0) continue;
        handler(eventOf(signalNumber));
        if (signalNumber == SIGHUP || signalNumber == SIGTERM) endBySignal(signalNumber);
      }
    }).detach();
  } catch (const std::system_error&) {
    ::pthread_sigmask(SIG_UNBLOCK, &watched, nullptr);
    return false;
  }
  return true;
}

}  // namespace platform
