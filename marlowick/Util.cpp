#include "marlowick/Util.h"

#include <mutex>

#include "marlowick/Logger.h"
#include "platform/Console.h"

namespace marlowick {

namespace {
// Keeps a console line and its log line together when several threads report.
std::recursive_mutex& outputLock() {
  static std::recursive_mutex lock;
  return lock;
}
}  // namespace

void consoleLine(std::string_view text) {
  std::lock_guard<std::recursive_mutex> guard(outputLock());
  platform::consoleWrite(text);
  platform::consoleWrite(platform::kLineEnd);
  // Flushed even when redirected, so a scheduler's capture holds every line however the run
  // ends.
  platform::consoleFlush();
}

void consolePrint(std::string_view text) {
  std::lock_guard<std::recursive_mutex> guard(outputLock());
  platform::consoleWrite(text);
  platform::consoleFlush();
}

bool printAndLog(std::string_view text, bool isInfo) {
  std::lock_guard<std::recursive_mutex> guard(outputLock());
  consoleLine(text);
  logger().log(isInfo ? LogLevel::info : LogLevel::error, text);
  return isInfo;
}

}  // namespace marlowick
