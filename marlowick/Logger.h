#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace marlowick {

enum class LogLevel { trace = 0, info = 1, warn = 2, error = 3, fatal = 4, none = 5 };

/// The six-character name of a level as it appears in the log ("Info  ", "Error ", ...).
std::string_view levelName(LogLevel level);

/// The text before the message on a log line, for the given local time.
std::string logLinePrefix(int year, int month, int day, int hour, int minute, int second,
                          int millisecond, LogLevel level, std::string_view loggerName);

/// A named logger writing one line per message to an append-only file, flushed after every
/// line. Messages below the threshold are dropped; texts are written exactly as given.
class Logger {
 public:
  explicit Logger(std::string name) : name_(std::move(name)) {}

  /// Opens `path` for appending (created when missing). Throws std::runtime_error with the
  /// path and the reason when it cannot be opened.
  void openFile(const std::string& path);
  void closeFile();
  void setLevel(LogLevel level) { threshold_ = level; }
  void log(LogLevel level, std::string_view text);
  void info(std::string_view text) { log(LogLevel::info, text); }
  void error(std::string_view text) { log(LogLevel::error, text); }

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::string name_;
  LogLevel threshold_ = LogLevel::info;
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::mutex mutex_;
};

/// The process-wide logger "Marlowick".
Logger& logger();

/// Start-up of the log: makes the application folder chain, deletes a log larger than
/// 512,000 bytes, opens the log for appending at level Info. Throws std::runtime_error with a
/// one-line reason when any of it fails.
void startLog();

}  // namespace marlowick
