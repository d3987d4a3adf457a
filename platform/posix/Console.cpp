#include "platform/Console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace platform {

const std::string_view kLineEnd = "\n";

void ensureStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is taken, which is this one: the lower ones are open by now.
    int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

void consoleWrite(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void consoleFlush() { std::fflush(stdout); }

bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool stdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

void setConsoleTitle(const std::string& title) {
  if (!stdoutIsTerminal()) return;
  consoleWrite("\x1b]0;");
  consoleWrite(title);
  consoleWrite("\x07");
  consoleFlush();
}

bool consoleReadLine(std::string& line) {
  line.clear();
  for (;;) {
    int c = std::getchar();
    if (c == EOF) return false;
    if (c == '\n') return true;
    line.push_back(static_cast<char>(c));
  }
}

}  // namespace platform
