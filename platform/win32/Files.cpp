#include "platform/Files.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/win32/Wide.h"

namespace platform {
namespace {

std::atomic<std::uint64_t> queries{0};

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

std::string lastSystemMessage() { return win32::systemMessage(::GetLastError()); }

bool attributesOf(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
  const std::wstring wide = win32::systemPath(path);
  return ::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) != 0;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Where the folders that may be made begin: after "C:\", after "\\server\share\", after a
// leading separator, else at the start.
std::size_t firstMakeable(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return 2;
  if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
    std::size_t server = path.find_first_of("\\/", 2);
    if (server == std::string::npos) return path.size();
    std::size_t share = path.find_first_of("\\/", server + 1);
    return share == std::string::npos ? path.size() : share;
  }
  return 0;
}

// The last level of `path`: what follows its last separator.
std::string_view lastLevel(std::string_view path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// The names Windows keeps for its devices, whatever follows a dot ("nul.txt" is NUL as well).
bool isDeviceName(std::string_view name) {
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace

PathKind pathKind(const std::string& path) {
  ++queries;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!attributesOf(path, data)) return PathKind::missing;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::folder;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return PathKind::other;
  return PathKind::file;
}

std::uint64_t pathQueryCount() { return queries.load(); }

std::optional<std::uint64_t> fileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!attributesOf(path, data)) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<std::int64_t> modifiedTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!attributesOf(path, data)) return std::nullopt;
  // 100-nanosecond ticks since 1601.
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
      data.ftLastWriteTime.dwLowDateTime);
  constexpr std::int64_t kTicksTo1970 = 116444736000000000;
  return (ticks - kTicksTo1970) / 10000000;
}

std::string setModifiedTime(const std::string& path, std::int64_t unixSeconds) {
  OwnedHandle file(::CreateFileW(win32::systemPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    return lastSystemMessage();
  }
  // 100-nanosecond ticks since 1601; the creation and access times stay as they are.
  constexpr std::int64_t kTicksTo1970 = 116444736000000000;
  const auto ticks = static_cast<std::uint64_t>(unixSeconds * 10000000 + kTicksTo1970);
  FILETIME written{static_cast<DWORD>(ticks & 0xffffffffu), static_cast<DWORD>(ticks >> 32)};
  if (!::SetFileTime(file.get(), nullptr, nullptr, &written)) return lastSystemMessage();
  return {};
}

std::string plainFileProblem(const std::string& path) {
  const std::wstring wide = win32::systemPath(path);
  // The entry's own attributes: a reparse point is not followed.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return lastSystemMessage();
  // The system's reason for a chain of links it will not follow.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return win32::systemMessage(ERROR_CANT_RESOLVE_FILENAME);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return errorText(EISDIR);
  OwnedHandle entry(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (entry.get() == INVALID_HANDLE_VALUE) {
    entry.release();
    return lastSystemMessage();
  }
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!::GetFileInformationByHandle(entry.get(), &facts)) return lastSystemMessage();
  if (facts.nNumberOfLinks != 1) return win32::systemMessage(ERROR_TOO_MANY_LINKS);
  return {};
}

bool deleteFile(const std::string& path, std::string* error) {
  if (::DeleteFileW(win32::systemPath(path).c_str())) return true;
  setError(error, lastSystemMessage());
  return false;
}

FileLock::~FileLock() {
  if (handle_ != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

LockTaken FileLock::take(const std::string& path, std::string* error) {
  // Shared every way, so that the data can still be written, renamed and removed through other
  // handles while this one holds.
  OwnedHandle file(::CreateFileW(win32::systemPath(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    setError(error, lastSystemMessage());
    return LockTaken::failed;
  }
  // Windows' locks keep others from the bytes they cover, so the lock covers one byte far past
  // any data.
  OVERLAPPED beyond{};
  beyond.Offset = 0xFFFFFFFE;
  beyond.OffsetHigh = 0x7FFFFFFF;
  if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &beyond)) {
    return ::GetLastError() == ERROR_LOCK_VIOLATION ? LockTaken::busy : LockTaken::taken;
  }
  if (handle_ != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = reinterpret_cast<std::intptr_t>(file.release());
  return LockTaken::taken;
}

std::string nameProblem(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
      return win32::systemMessage(ERROR_INVALID_NAME);
    }
  }
  return isDeviceName(name) ? win32::systemMessage(ERROR_INVALID_NAME) : std::string();
}

std::string sameFileKey(std::string_view path) {
  const std::wstring wide = win32::widen(path);
  std::wstring key;
  key.reserve(wide.size());
  for (std::size_t start = 0;;) {
    const std::size_t end = std::min(wide.find_first_of(L"\\/", start), wide.size());
    std::wstring_view level(wide.data() + start, end - start);
    if (level != L"." && level != L"..") {
      while (!level.empty() && (level.back() == L'.' || level.back() == L' ')) {
        level.remove_suffix(1);
      }
    }
    key.append(level);
    if (end == wide.size()) break;
    key.push_back(L'\\');
    start = end + 1;
  }
  // NTFS compares names by their upper case, one character for one.
  std::wstring upper(key.size(), L'\0');
  if (!key.empty() &&
      ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, key.data(),
                      static_cast<int>(key.size()), upper.data(), static_cast<int>(upper.size()),
                      nullptr, nullptr, 0) == 0) {
    upper = key;
  }
  return win32::narrow(upper);
}

bool makeFolder(const std::string& path, std::string* error) {
  if (std::string problem = nameProblem(lastLevel(path)); !problem.empty()) {
    setError(error, problem);
    return false;
  }
  if (::CreateDirectoryW(win32::systemPath(path).c_str(), nullptr)) return true;
  setError(error, lastSystemMessage());
  return false;
}

bool makeFolderChain(const std::string& path, std::string* error) {
  for (std::size_t at = firstMakeable(path) + 1; at <= path.size(); ++at) {
    if (at != path.size() && !isSeparator(path[at])) continue;
    std::string prefix = path.substr(0, at);
    if (prefix.empty() || isSeparator(prefix.back())) continue;
    if (::CreateDirectoryW(win32::systemPath(prefix).c_str(), nullptr) ||
        ::GetLastError() == ERROR_ALREADY_EXISTS) {
      if (pathKind(prefix) == PathKind::folder) continue;
      setError(error, prefix + ": " + win32::systemMessage(ERROR_DIRECTORY));
      return false;
    }
    setError(error, prefix + ": " + lastSystemMessage());
    return false;
  }
  return true;
}

std::FILE* openFile(const std::string& path, const char* mode) {
  ::SetLastError(ERROR_SUCCESS);
  return ::_wfopen(win32::systemPath(path).c_str(), win32::widen(mode).c_str());
}

std::FILE* openForAppending(const std::string& path) { return openFile(path, "ab"); }

bool appendInOneWrite(const std::string& path, std::string_view data, std::string* error) {
  // FILE_APPEND_DATA alone: every write lands at the end, whoever else appends meanwhile.
  OwnedHandle file(::CreateFileW(win32::widen(path).c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    setError(error, lastSystemMessage());
    return false;
  }
  if (data.size() > MAXDWORD) {
    setError(error, "the record is too large for one write");
    return false;
  }
  DWORD written = 0;
  if (!::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
    setError(error, lastSystemMessage());
    return false;
  }
  if (written != data.size()) {
    setError(error, "only " + std::to_string(written) + " of " + std::to_string(data.size()) +
                        " bytes were written");
    return false;
  }
  return true;
}

NewFile createNewFile(const std::string& path, std::string* error) {
  OwnedHandle file(::CreateFileW(win32::systemPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() != INVALID_HANDLE_VALUE) return NewFile::created;
  file.release();
  const DWORD code = ::GetLastError();
  if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return NewFile::exists;
  setError(error, win32::systemMessage(code));
  return NewFile::failed;
}

bool renameFile(const std::string& from, const std::string& to, std::string* error) {
  if (::MoveFileExW(win32::systemPath(from).c_str(), win32::systemPath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    return true;
  }
  setError(error, lastSystemMessage());
  return false;
}

bool readWholeFile(const std::string& path, std::string& content, std::string* error) {
  content.clear();
  OwnedHandle file(::CreateFileW(win32::systemPath(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    setError(error, path + ": " + lastSystemMessage());
    return false;
  }
  char buffer[1 << 16];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      setError(error, path + ": " + lastSystemMessage());
      return false;
    }
    if (got == 0) break;
    content.append(buffer, got);
  }
  return true;
}

OutputFile::~OutputFile() { close(); }

// kClosed is INVALID_HANDLE_VALUE's value, so a handle fits the field as it is.
bool OutputFile::open(const std::string& path, std::string* error, std::uint64_t keep) {
  close();
  HANDLE file = ::CreateFileW(win32::systemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, keep == 0 ? CREATE_ALWAYS : OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    setError(error, lastSystemMessage());
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  if (keep == 0 || restartAt(keep, error)) return true;
  close();
  return false;
}

LockTaken OutputFile::openHeld(const std::string& path, std::string* error) {
  close();
  const std::wstring wide = win32::systemPath(path);
  // The entry itself, a reparse point included, is opened, never what it leads to; shared every
  // way, so that the file can still be read, renamed and removed while it is held.
  OwnedHandle file(::CreateFileW(
      wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    const DWORD code = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    setError(error, folder ? errorText(EISDIR) : win32::systemMessage(code));
    return LockTaken::failed;
  }
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!::GetFileInformationByHandle(file.get(), &facts)) {
    setError(error, lastSystemMessage());
    return LockTaken::failed;
  }
  // Judged on the very file opened, which is the one written.
  if (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    setError(error, win32::systemMessage(ERROR_CANT_RESOLVE_FILENAME));
    return LockTaken::failed;
  }
  if (facts.nNumberOfLinks != 1) {
    setError(error, win32::systemMessage(ERROR_TOO_MANY_LINKS));
    return LockTaken::failed;
  }
  // Windows' locks keep others from the bytes they cover, so the lock covers one byte far past
  // any data.
  OVERLAPPED beyond{};
  beyond.Offset = 0xFFFFFFFE;
  beyond.OffsetHigh = 0x7FFFFFFF;
  if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &beyond) &&
      ::GetLastError() == ERROR_LOCK_VIOLATION) {
    return LockTaken::busy;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file.release());
  return LockTaken::taken;
}

bool OutputFile::isAt(const std::string& path) const {
  if (handle_ == kClosed) return false;
  OwnedHandle named(::CreateFileW(win32::systemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (named.get() == INVALID_HANDLE_VALUE) {
    named.release();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION held{};
  BY_HANDLE_FILE_INFORMATION there{};
  return ::GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &held) &&
         ::GetFileInformationByHandle(named.get(), &there) &&
         held.dwVolumeSerialNumber == there.dwVolumeSerialNumber &&
         held.nFileIndexHigh == there.nFileIndexHigh && held.nFileIndexLow == there.nFileIndexLow;
}

bool OutputFile::restartAt(std::uint64_t keep, std::string* error) {
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(keep);
  if (::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file)) return true;
  setError(error, lastSystemMessage());
  return false;
}

bool OutputFile::write(const char* data, std::size_t length, std::string* error) {
  if (handle_ == kClosed) {
    setError(error, win32::systemMessage(ERROR_INVALID_HANDLE));
    return false;
  }
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  while (length > 0) {
    // WriteFile takes a 32-bit length.
    const DWORD piece = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!::WriteFile(file, data, piece, &written, nullptr)) {
      setError(error, lastSystemMessage());
      return false;
    }
    data += written;
    length -= written;
  }
  return true;
}

bool OutputFile::close(std::string* error) {
  if (handle_ == kClosed) return true;
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  handle_ = kClosed;
  if (::CloseHandle(file)) return true;
  setError(error, lastSystemMessage());
  return false;
}

// Error numbers of the C runtime (errno values).
std::string errorText(int error) {
  char buffer[256] = {};
  if (::strerror_s(buffer, sizeof buffer, error) != 0) return "error " + std::to_string(error);
  return buffer;
}

// Failed C runtime calls leave the system's reason as well as errno; the system's text is the
// one Windows users know. A failure the system did not see falls back to errno's text.
std::string lastErrorText() {
  const DWORD code = ::GetLastError();
  if (code != ERROR_SUCCESS) return win32::systemMessage(code);
  return errorText(errno);
}

}  // namespace platform
