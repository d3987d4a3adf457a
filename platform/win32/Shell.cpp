#include "platform/Shell.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include "platform/Files.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

constexpr int kShowMaximized = 3;  // SW_SHOWMAXIMIZED

bool isWebAddress(const std::string& target) {
  return target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0;
}

// The default value of HKEY_CLASSES_ROOT\HTTP\shell\open\command, or empty.
std::wstring registeredBrowserCommand() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"HTTP\\shell\\open\\command", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return {};
  }
  wchar_t value[1024] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  LSTATUS status =
      ::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  return std::wstring(value, size / sizeof(wchar_t)).c_str();
}

std::wstring withoutOuterQuotes(const std::wstring& text) {
  std::size_t first = text.find_first_not_of(L'"');
  if (first == std::wstring::npos) return {};
  std::size_t last = text.find_last_not_of(L'"');
  return text.substr(first, last - first + 1);
}

bool isFile(const std::wstring& path) {
  return !path.empty() && pathKind(win32::narrow(path)) == PathKind::file;
}

// Internet Explorer in its usual places, else whatever the registry names for web addresses
// when that is a program file as it stands.
std::wstring browserProgram() {
  for (const wchar_t* candidate : {L"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE",
                                   L"D:\\Program Files\\Internet Explorer\\IEXPLORE.EXE"}) {
    if (isFile(candidate)) return candidate;
  }
  std::wstring registered = withoutOuterQuotes(registeredBrowserCommand());
  return isFile(registered) ? registered : std::wstring();
}

// A result above 32 is success, as ShellExecute defines it.
bool started(HINSTANCE result) { return reinterpret_cast<INT_PTR>(result) > 32; }

}  // namespace

// The shell's "open", maximised.
bool openDetached(const std::string& target) {
  std::wstring wide = win32::widen(target);
  if (!isWebAddress(target)) {
    return started(::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, kShowMaximized));
  }
  std::wstring browser = browserProgram();
  return started(::ShellExecuteW(nullptr, L"open", browser.empty() ? L"IEXPLORE" : browser.c_str(),
                                 wide.c_str(), nullptr, kShowMaximized));
}

}  // namespace platform
