#include <windows.h>

#include <algorithm>

#include "platform/Files.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

// WriteFile takes a 32-bit count; larger writes go in pieces of this size.
constexpr std::size_t kLargestWrite = 1u << 30;

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

HANDLE handleOf(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

OutputFile::~OutputFile() { close(); }

bool OutputFile::open(const std::string& path, std::string* error) {
  close();
  HANDLE file = ::CreateFileW(win32::widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    setError(error, win32::systemMessage(::GetLastError()));
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool OutputFile::write(const char* data, std::size_t length, std::string* error) {
  if (handle_ == kClosed) {
    setError(error, win32::systemMessage(ERROR_INVALID_HANDLE));
    return false;
  }
  while (length > 0) {
    const DWORD piece = static_cast<DWORD>(std::min(length, kLargestWrite));
    DWORD written = 0;
    if (!::WriteFile(handleOf(handle_), data, piece, &written, nullptr)) {
      setError(error, win32::systemMessage(::GetLastError()));
      return false;
    }
    data += written;
    length -= written;
  }
  return true;
}

bool OutputFile::close(std::string* error) {
  if (handle_ == kClosed) return true;
  HANDLE file = handleOf(handle_);
  handle_ = kClosed;
  if (::CloseHandle(file)) return true;
  setError(error, win32::systemMessage(::GetLastError()));
  return false;
}

}  // namespace platform
