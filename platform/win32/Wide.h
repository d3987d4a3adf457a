#pragma once

// Helpers shared by the Windows implementation: the program's UTF-8 texts meet the system's
// UTF-16 ones here, and the system's error codes become texts.
#include <windows.h>

#include <string>
#include <string_view>

namespace platform::win32 {

/// UTF-8 `text` as UTF-16; invalid bytes become U+FFFD.
std::wstring widen(std::string_view text);

/// UTF-16 `text` as UTF-8; unpaired surrogates become U+FFFD.
std::string narrow(std::wstring_view text);

/// UTF-8 `path` as the system's file functions take it: made absolute (".." and "." levels
/// resolved, "/" turned into "\\", as the system would) and given the "\\?\" prefix
/// ("\\?\UNC\" for a share), so that paths longer than MAX_PATH (260) work as well. A path
/// that already has such a prefix, or names a device, stays as it is.
std::wstring systemPath(std::string_view path);

/// The system's message for `code` in the user's default language, without its line end.
std::string systemMessage(DWORD code);

}  // namespace platform::win32
