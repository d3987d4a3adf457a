#include "tests/support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> buildEnvironment(const ProcessOptions& options) {
  std::map<std::string, std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    std::string text = *entry;
    auto at = text.find('=');
    if (at != std::string::npos) env[text.substr(0, at)] = text.substr(at + 1);
  }
  for (const auto& name : options.unsetEnv) env.erase(name);
  for (const auto& [name, value] : options.env) env[name] = value;
  std::vector<std::string> result;
  for (const auto& [name, value] : env) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (auto& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// Forks and execs; the pipes given are the child's stdin/stdout/stderr (-1: /dev/null).
pid_t spawn(const std::vector<std::string>& argv, const ProcessOptions& options, int in, int out,
            int err, const std::vector<int>& closeInChild) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env = buildEnvironment(options);
  auto argp = pointers(args);
  auto envp = pointers(env);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // The child starts as a shell would start it, whatever this process ignores.
    ::signal(SIGPIPE, SIG_DFL);
    ::setpgid(0, 0);
    int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(in >= 0 ? in : devnull, 0);
    ::dup2(out >= 0 ? out : devnull, 1);
    ::dup2(err >= 0 ? err : devnull, 2);
    for (int fd : closeInChild) ::close(fd);
    if (!options.workingDir.empty() && ::chdir(options.workingDir.c_str()) != 0) ::_exit(126);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) || ::pipe2(outPipe, O_CLOEXEC) || ::pipe2(errPipe, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  pid_t pid = spawn(argv, options, inPipe[0], outPipe[1], errPipe[1], {});
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);

  ProcessResult result;
  size_t written = 0;
  int inFd = inPipe[1];
  ::fcntl(inFd, F_SETFL, O_NONBLOCK);
  if (options.input.empty()) {
    ::close(inFd);
    inFd = -1;
  }
  bool outOpen = true, errOpen = true;
  auto deadline = Clock::now() + options.timeout;
  while (outOpen || errOpen) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd fds[3] = {{outOpen ? outPipe[0] : -1, POLLIN, 0},
                     {errOpen ? errPipe[0] : -1, POLLIN, 0},
                     {inFd, POLLOUT, 0}};
    ::poll(fds, 3, static_cast<int>(std::min<long>(left.count(), 200)));
    char buffer[65536];
    if (fds[0].revents) {
      ssize_t n = ::read(outPipe[0], buffer, sizeof buffer);
      if (n <= 0) outOpen = false; else result.out.append(buffer, static_cast<size_t>(n));
    }
    if (fds[1].revents) {
      ssize_t n = ::read(errPipe[0], buffer, sizeof buffer);
      if (n <= 0) errOpen = false; else result.err.append(buffer, static_cast<size_t>(n));
    }
    if (inFd >= 0 && fds[2].revents) {
      ssize_t n = ::write(inFd, options.input.data() + written, options.input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 || written == options.input.size()) {
        ::close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) ::close(inFd);
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status) && !result.timedOut) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const ProcessOptions& options) {
  int outPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC)) throw std::runtime_error("pipe failed");
  int inPipe[2] = {-1, -1};
  if (options.holdInput && ::pipe2(inPipe, O_CLOEXEC)) throw std::runtime_error("pipe failed");
  pid_ = spawn(argv, options, inPipe[0], outPipe[1], 2, {});
  ::close(outPipe[1]);
  outFd_ = outPipe[0];
  if (options.holdInput) {
    ::close(inPipe[0]);
    inFd_ = inPipe[1];
  }
}

void BackgroundProcess::writeInput(const std::string& text) {
  if (inFd_ < 0) throw std::runtime_error("standard input is not held");
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(inFd_, text.data() + done, text.size() - done);
    if (n <= 0) throw std::runtime_error("cannot write to the process");
    done += static_cast<size_t>(n);
  }
}

void BackgroundProcess::closeInput() {
  if (inFd_ >= 0) ::close(inFd_);
  inFd_ = -1;
}

std::string BackgroundProcess::readUntil(const std::string& text,
                                         std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (seen_.find(text) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) throw std::runtime_error("timed out waiting for: " + text);
    pollfd fd{outFd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(outFd_, buffer, sizeof buffer);
    if (n <= 0) throw std::runtime_error("process output ended before: " + text);
    seen_.append(buffer, static_cast<size_t>(n));
  }
  return seen_;
}

BackgroundProcess::~BackgroundProcess() {
  closeInput();
  stop();
  if (outFd_ >= 0) ::close(outFd_);
}

std::string BackgroundProcess::readLine(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    auto at = pending_.find('\n');
    if (at != std::string::npos) {
      std::string line = pending_.substr(0, at);
      pending_.erase(0, at + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) throw std::runtime_error("timed out waiting for a line of output");
    pollfd fd{outFd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(outFd_, buffer, sizeof buffer);
    if (n <= 0) throw std::runtime_error("process output ended: " + pending_);
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

void BackgroundProcess::kill(int signal) {
  if (!reaped_) ::kill(pid_, signal);
}

int BackgroundProcess::wait(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (!reaped_) {
    int status = 0;
    pid_t got = ::waitpid(pid_, &status, WNOHANG);
    if (got == pid_) {
      reaped_ = true;
      return status;
    }
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

void BackgroundProcess::stop() {
  if (reaped_ || pid_ <= 0) return;
  ::kill(-pid_, SIGTERM);
  ::kill(pid_, SIGTERM);
  if (wait(std::chrono::seconds(5)) == -1) {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    wait(std::chrono::seconds(5));
  }
}

std::string marlowickBinary() { return MARLOWICK_BINARY; }

}  // namespace testing_support
