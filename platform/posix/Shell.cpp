#include "platform/Shell.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

void openDetached(const std::string& target) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The console signals are blocked in this process; the opener must get them normally.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  // A shell starts the opener in the background and returns at once, so the opener is never
  // waited for and never lingers as our child; a missing xdg-open is simply ignored.
  std::string shell = "/bin/sh", flag = "-c", name = "marlowick-open";
  std::string script = "command -v xdg-open >/dev/null 2>&1 && xdg-open \"$1\" &";
  char* argv[] = {shell.data(), flag.data(), script.data(), name.data(),
                  const_cast<char*>(target.c_str()), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, "/bin/sh", &actions, &attributes, argv, environ) == 0) {
    ::waitpid(child, nullptr, 0);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace platform
