#include "platform/Shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

extern char** environ;

namespace platform {
namespace {

// The descriptor on which the opener's shell reports how the opener ended.
constexpr int kStatusFd = 3;
// xdg-open without a desktop gives up at once; one that works may run on (a text browser, say)
// and is then left to it.
constexpr std::chrono::milliseconds kFailureWindow{2000};

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// What the opener's shell wrote to `fd` within the window: its exit status, or nothing yet.
// True unless it reported a failure or went away without a word.
bool openerKeptGoing(int fd) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + kFailureWindow;
  std::string text;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) return true;
    pollfd watched{fd, POLLIN, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
    if (ready < 0) continue;  // interrupted: the deadline still holds
    if (ready == 0) return true;
    char buffer[16];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    return !text.empty() && std::atoi(text.c_str()) == 0;
  }
}

}  // namespace

bool openDetached(const std::string& target) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  Descriptor reader(ends[0]);
  // Never descriptor 3 itself: duplicating it onto itself would keep its close-on-exec flag.
  Descriptor writer(::fcntl(ends[1], F_DUPFD_CLOEXEC, kStatusFd + 1));
  ::close(ends[1]);
  if (writer.get() < 0) return false;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, writer.get(), kStatusFd);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The console signals are blocked in this process; the opener must get them normally.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  // The shell starts the opener in the background and returns at once, so the opener never
  // lingers as our child; the background part tells its status on descriptor 3 when it ends.
  std::string shell = "/bin/sh", flag = "-c", name = "marlowick-open";
  std::string script =
      "command -v xdg-open >/dev/null 2>&1 || exit 127\n"
      "{ xdg-open \"$1\" 3>&-; echo $? >&3; } &\n";
  char* argv[] = {
      shell.data(), flag.data(), script.data(), name.data(), const_cast<char*>(target.c_str()),
      nullptr};
  pid_t child = 0;
  int status = -1;
  if (posix_spawn(&child, "/bin/sh", &actions, &attributes, argv, environ) == 0) {
    ::waitpid(child, &status, 0);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  writer.reset();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  return openerKeptGoing(reader.get());
}

}  // namespace platform
