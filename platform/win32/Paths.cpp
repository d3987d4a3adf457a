#include "platform/Paths.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shlobj.h>

#include <stdexcept>
#include <vector>

#include "platform/Files.h"
#include "platform/win32/Wide.h"

namespace platform {

const char kPathSeparator = '\\';

namespace {

constexpr int kRoamingAppData = 0x1A;  // CSIDL_APPDATA
constexpr int kSystem = 0x25;          // CSIDL_SYSTEM

// A special folder, made by the system when missing; empty when it cannot be had.
std::string specialFolder(int which, bool create) {
  wchar_t path[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, path, which, create ? TRUE : FALSE)) return {};
  return win32::narrow(path);
}

}  // namespace

std::string programFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::string path = win32::narrow(std::wstring_view(buffer.data(), length));
      return path.substr(0, path.rfind('\\') + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string applicationDataFolder() {
  ::SetLastError(ERROR_SUCCESS);
  std::string folder = specialFolder(kRoamingAppData, true);
  if (folder.empty()) {
    DWORD code = ::GetLastError();
    throw std::runtime_error(
        "getSpecialPath :: " +
        (code == ERROR_SUCCESS ? std::string("no roaming application folder") : lastErrorText()));
  }
  return folder;
}

// A drive letter and colon begin every absolute path the program is given.
bool isAbsolutePath(const std::string& path) { return path.size() > 1 && path[1] == ':'; }

// Where Windows ports of the classic FTP clients look: _netrc in the user's profile folder.
std::string netrcPath() {
  const DWORD needed = ::GetEnvironmentVariableW(L"USERPROFILE", nullptr, 0);
  if (needed == 0) return {};
  std::wstring folder(needed, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(L"USERPROFILE", folder.data(), needed);
  if (length == 0 || length >= needed) return {};
  folder.resize(length);
  return win32::narrow(folder) + "\\_netrc";
}

// The profile folder is the user's own by its access list; files have no mode bits to check.
std::string sharedFileProblem(const std::string&) { return {}; }

std::string systemFolder() { return specialFolder(kSystem, false); }

std::string shortcutFolder(const std::string&) { return programFolder(); }

}  // namespace platform
