#include "marlowick/Logger.h"

#include <fmt/format.h>

#include <stdexcept>

#include "marlowick/Config.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Files.h"

namespace marlowick {

namespace {
constexpr std::uint64_t kLargestKeptLog = 512000;
}

std::string_view levelName(LogLevel level) {
  switch (level) {
    case LogLevel::trace:
      return "Trace ";
    case LogLevel::info:
      return "Info  ";
    case LogLevel::warn:
      return "Warn  ";
    case LogLevel::error:
      return "Error ";
    case LogLevel::fatal:
      return "Fatal ";
    case LogLevel::none:
      break;
  }
  return "None  ";
}

std::string logLinePrefix(int year, int month, int day, int hour, int minute, int second,
                          int millisecond, LogLevel level, std::string_view loggerName) {
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02},{:03} {} {} - ", year, month, day, hour,
                     minute, second, millisecond, levelName(level), loggerName);
}

void Logger::openFile(const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  file_.reset(platform::openForAppending(path));
  if (!file_) throw std::runtime_error("Unable to open the log " + path + ": " +
                                       platform::lastErrorText());
}

void Logger::closeFile() {
  std::lock_guard<std::mutex> guard(mutex_);
  file_.reset();
}

void Logger::log(LogLevel level, std::string_view text) {
  if (level < threshold_ || level == LogLevel::none) return;
  platform::LocalTime now = platform::localTimeNow();
  std::string line = logLinePrefix(now.year, now.month, now.day, now.hour, now.minute, now.second,
                                   now.millisecond, level, name_);
  line.append(text);
  line.append(platform::kLineEnd);
  std::lock_guard<std::mutex> guard(mutex_);
  if (!file_) return;
  std::fwrite(line.data(), 1, line.size(), file_.get());
  std::fflush(file_.get());
}

Logger& logger() {
  static Logger instance("Marlowick");
  return instance;
}

void startLog() {
  std::string folder = config().applicationFolder();
  std::string error;
  if (!platform::makeFolderChain(folder, &error)) {
    throw std::runtime_error("Unable to create the application folder " + error);
  }
  std::string path = config().logPath();
  // Only a plain file grows; anything else that takes appended lines (a link to /dev/null, a
  // FIFO) is a way to silence or divert the log, and opening it decides.
  if (platform::pathKind(path) == platform::PathKind::file) {
    auto size = platform::fileSize(path);
    // Started afresh, but the run before stays readable the morning after: the full log is kept
    // as log.txt.1, replacing an older one.
    if (size && *size > kLargestKeptLog && !platform::renameFile(path, path + ".1", &error)) {
      throw std::runtime_error("Unable to set the oversized log " + path + " aside: " + error);
    }
  }
  logger().openFile(path);
  logger().setLevel(LogLevel::info);
}

}  // namespace marlowick
