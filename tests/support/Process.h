#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
  int exitCode = -1;    // exit status, or -1 when ended by a signal or timed out
  int signal = 0;       // the ending signal, if any
  bool timedOut = false;
  std::string out;      // standard output
  std::string err;      // standard error
};

struct ProcessOptions {
  std::map<std::string, std::string> env;  // added to (or replacing in) the environment
  std::vector<std::string> unsetEnv;        // removed from the environment
  std::string input;                        // written to standard input, then closed
  std::string workingDir;
  bool holdInput = false;                   // background: keep standard input open as a pipe
  std::chrono::milliseconds timeout{60000};
};

/// Runs `argv` to its end (killed after the timeout) and collects its output.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

/// A child process in the background whose standard output is read line by line; stopped
/// (SIGTERM, then SIGKILL after a bound) when the object goes away.
class BackgroundProcess {
 public:
  explicit BackgroundProcess(const std::vector<std::string>& argv,
                             const ProcessOptions& options = {});
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  /// Next line of its standard output, waiting at most `timeout`; throws on time-out or end.
  std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  /// Writes to its standard input (needs `holdInput`).
  void writeInput(const std::string& text);
  /// Closes its standard input.
  void closeInput();
  /// Reads its output until `text` has appeared (bounded); returns everything read so far.
  std::string readUntil(const std::string& text,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));
  /// Sends a signal.
  void kill(int signal);
  /// Waits for the end (bounded); returns the raw wait status, or -1 on time-out.
  int wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  /// Stops it now (SIGTERM, then SIGKILL).
  void stop();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  int inFd_ = -1;
  std::string seen_;
  std::string pending_;
  bool reaped_ = false;
};

/// The marlowick binary built alongside the tests.
std::string marlowickBinary();

/// Debian's Python, which owns python3-pyftpdlib.
inline constexpr const char* kSystemPython = "/usr/bin/python3";

}  // namespace testing_support
