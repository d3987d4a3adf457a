#include "platform/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Files.h"

namespace platform {

const char kPathSeparator = '/';

std::string programFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(length));
      return path.substr(0, path.rfind('/') + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string applicationDataFolder() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  // Only an absolute XDG_DATA_HOME is valid; a relative one is ignored by convention.
  if (dataHome && dataHome[0] == '/') return dataHome;
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/share";
  throw std::runtime_error("getSpecialPath :: neither XDG_DATA_HOME nor HOME names a folder");
}

bool isAbsolutePath(const std::string& path) {
  return (!path.empty() && path[0] == '/') || (path.size() > 1 && path[1] == ':');
}

std::string netrcPath() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.netrc";
}

std::string sharedFileProblem(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return errorText(errno);
  // As the classic ftp client's rule: any access for the group or others.
  if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) return "other users may read or change it";
  return {};
}

}  // namespace platform

namespace platform {

std::string systemFolder() { return {}; }

std::string shortcutFolder(const std::string& applicationFolder) { return applicationFolder; }

}  // namespace platform
