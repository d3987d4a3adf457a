#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "marlowick/Logger.h"
#include "tests/support/TempDir.h"

namespace marlowick_test {

/// Sends the process's standard output to a file while it lives; `text` returns what arrived.
class StdoutCapture {
 public:
  StdoutCapture() : path_(dir_.file("stdout.txt")) {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  }
  ~StdoutCapture() { restore(); }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  /// Ends the capture and returns everything written.
  std::string text() {
    restore();
    return testing_support::readFile(path_);
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  testing_support::TempDir dir_;
  std::string path_;
  int saved_ = -1;
};

/// Points the process-wide log at a fresh file while it lives.
class LogCapture {
 public:
  LogCapture() : path_(dir_.file("log.txt")) { marlowick::logger().openFile(path_); }
  ~LogCapture() { marlowick::logger().closeFile(); }

  /// The log so far with each line's time stamp replaced by "T".
  std::string text() const {
    std::string raw = testing_support::readFile(path_);
    std::string out;
    for (std::size_t at = 0; at < raw.size();) {
      bool lineStart = at == 0 || raw[at - 1] == '\n';
      if (lineStart && isTimeStamp(raw, at)) {
        out += 'T';
        at += kStampLength;
      } else {
        out += raw[at++];
      }
    }
    return out;
  }

 private:
  static constexpr std::size_t kStampLength = 23;  // 2026-12-08 04:35:41,123
  static bool isTimeStamp(const std::string& text, std::size_t at) {
    static const std::string shape = "dddd-dd-dd dd:dd:dd,ddd";
    if (text.size() < at + kStampLength) return false;
    for (std::size_t i = 0; i < kStampLength; ++i) {
      char c = text[at + i];
      if (shape[i] == 'd' ? (c < '0' || c > '9') : c != shape[i]) return false;
    }
    return true;
  }
  testing_support::TempDir dir_;
  std::string path_;
};

/// One expected log line for a message at level Info.
inline std::string infoLine(const std::string& message) {
  return "T Info   Marlowick - " + message + "\n";
}
/// One expected log line for a message at level Error.
inline std::string errorLine(const std::string& message) {
  return "T Error  Marlowick - " + message + "\n";
}

}  // namespace marlowick_test
