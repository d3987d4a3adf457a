#include "platform/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace platform {
namespace {
std::atomic<std::uint64_t> queries{0};

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// Closes its descriptor when it goes away.
struct FileDescriptor {
  int fd;
  explicit FileDescriptor(int fd) : fd(fd) {}
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
  int release() { return std::exchange(fd, -1); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
};
}  // namespace

PathKind pathKind(const std::string& path) {
  ++queries;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return PathKind::missing;
  if (S_ISDIR(info.st_mode)) return PathKind::folder;
  if (S_ISREG(info.st_mode)) return PathKind::file;
  return PathKind::other;
}

std::uint64_t pathQueryCount() { return queries.load(); }

std::optional<std::uint64_t> fileSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

std::optional<std::int64_t> modifiedTime(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::int64_t>(info.st_mtime);
}

std::string setModifiedTime(const std::string& path, std::int64_t unixSeconds) {
  // The last access time stays as it is.
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(unixSeconds), 0}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return lastErrorText();
  return {};
}

namespace {

// The reasons opening it for writing would give: a link refused by O_NOFOLLOW, a folder, a FIFO
// without a reader; and a second name, through which the data would land in another file.
std::string plainProblem(const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return errorText(ELOOP);
  if (S_ISDIR(info.st_mode)) return errorText(EISDIR);
  if (!S_ISREG(info.st_mode)) return errorText(ENXIO);
  if (info.st_nlink != 1) return errorText(EMLINK);
  return {};
}

}  // namespace

std::string plainFileProblem(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return lastErrorText();
  return plainProblem(info);
}

bool deleteFile(const std::string& path, std::string* error) {
  if (::unlink(path.c_str()) == 0) return true;
  setError(error, lastErrorText());
  return false;
}

bool makeFolder(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  setError(error, lastErrorText());
  return false;
}

bool makeFolderChain(const std::string& path, std::string* error) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string prefix = path.substr(0, at);
    if (prefix.empty() || prefix.back() == '/') continue;
    if (::mkdir(prefix.c_str(), 0777) == 0 || errno == EEXIST) {
      if (pathKind(prefix) == PathKind::folder) continue;
      setError(error, prefix + ": " + errorText(ENOTDIR));
      return false;
    }
    setError(error, prefix + ": " + lastErrorText());
    return false;
  }
  return true;
}

std::FILE* openFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::FILE* openForAppending(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return nullptr;
  // Only the opening must not wait: writes go on as usual.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(fd, "ab");
  if (file == nullptr) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return file;
}

bool appendInOneWrite(const std::string& path, std::string_view data, std::string* error) {
  FileDescriptor file(
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
  if (file.fd < 0) {
    setError(error, lastErrorText());
    return false;
  }
  const int flags = ::fcntl(file.fd, F_GETFL);
  if (flags != -1) ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK);
  ssize_t written = -1;
  do {
    written = ::write(file.fd, data.data(), data.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    setError(error, lastErrorText());
    return false;
  }
  if (static_cast<std::size_t>(written) != data.size()) {
    setError(error, "only " + std::to_string(written) + " of " + std::to_string(data.size()) +
                        " bytes were written");
    return false;
  }
  return true;
}

NewFile createNewFile(const std::string& path, std::string* error) {
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (file.fd >= 0) return NewFile::created;
  if (errno == EEXIST) return NewFile::exists;
  setError(error, lastErrorText());
  return NewFile::failed;
}

bool renameFile(const std::string& from, const std::string& to, std::string* error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  setError(error, lastErrorText());
  return false;
}

bool readWholeFile(const std::string& path, std::string& content, std::string* error) {
  content.clear();
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.fd < 0) {
    setError(error, path + ": " + lastErrorText());
    return false;
  }
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      setError(error, path + ": " + lastErrorText());
      return false;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

OutputFile::~OutputFile() { close(); }

bool OutputFile::open(const std::string& path, std::string* error, std::uint64_t keep) {
  close();
  // A link planted where the file belongs is never written through, and a FIFO without a
  // reader fails at once rather than holding the transfer.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (fd < 0) {
    setError(error, lastErrorText());
    return false;
  }
  handle_ = fd;
  if (const int flags = ::fcntl(fd, F_GETFL); flags != -1)
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (restartAt(keep, error)) return true;
  close();
  return false;
}

LockTaken OutputFile::openHeld(const std::string& path, std::string* error) {
  // The holder before may move the file away just before letting go of it: a hold taken on that
  // file is worth nothing, so it is taken again on the file now at the path.
  for (int attempt = 0; attempt < 3; ++attempt) {
    close();
    FileDescriptor file(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666));
    struct stat held {};
    if (file.fd < 0 || ::fstat(file.fd, &held) != 0) {
      setError(error, lastErrorText());
      return LockTaken::failed;
    }
    // Judged on the very file opened, which is the one written: whatever stands at the path
    // later is never written through.
    if (std::string problem = plainProblem(held); !problem.empty()) {
      setError(error, problem);
      return LockTaken::failed;
    }
    // A file system that keeps no holds: the file counts as held.
    if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return LockTaken::busy;
    if (const int flags = ::fcntl(file.fd, F_GETFL); flags != -1)
      ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK);
    handle_ = file.release();
    if (isAt(path)) return LockTaken::taken;
  }
  close();
  return LockTaken::busy;
}

bool OutputFile::isAt(const std::string& path) const {
  struct stat held {};
  struct stat named {};
  return handle_ != kClosed && ::fstat(static_cast<int>(handle_), &held) == 0 &&
         ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

bool OutputFile::restartAt(std::uint64_t keep, std::string* error) {
  // Cut only when it holds more than is kept: ext4 takes the truncation of an existing file
  // for a replacement in progress and writes the new content out to disk when it is closed,
  // which makes every transfer into a freshly made, empty file wait for the disk.
  const int fd = static_cast<int>(handle_);
  struct stat facts {};
  const bool asItIs =
      ::fstat(fd, &facts) == 0 &&
      (!S_ISREG(facts.st_mode) || static_cast<std::uint64_t>(facts.st_size) == keep);
  if ((asItIs || ::ftruncate(fd, static_cast<off_t>(keep)) == 0) &&
      ::lseek(fd, static_cast<off_t>(keep), SEEK_SET) >= 0) {
    return true;
  }
  setError(error, lastErrorText());
  return false;
}

bool OutputFile::write(const char* data, std::size_t length, std::string* error) {
  if (handle_ == kClosed) {
    setError(error, errorText(EBADF));
    return false;
  }
  while (length > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      setError(error, lastErrorText());
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

bool OutputFile::close(std::string* error) {
  if (handle_ == kClosed) return true;
  const int fd = static_cast<int>(handle_);
  handle_ = kClosed;
  // The descriptor is gone after close whatever it returns, so it is never closed again.
  if (::close(fd) == 0 || errno == EINTR) return true;
  setError(error, lastErrorText());
  return false;
}

FileLock::~FileLock() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
}

LockTaken FileLock::take(const std::string& path, std::string* error) {
  // The holder before may move the file away just before letting go of it: a hold taken on that
  // file is worth nothing, so it is taken again on the file now at the path.
  for (int attempt = 0; attempt < 3; ++attempt) {
    FileDescriptor file(
        ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666));
    if (file.fd < 0) {
      setError(error, lastErrorText());
      return LockTaken::failed;
    }
    if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0) {
      return errno == EWOULDBLOCK ? LockTaken::busy : LockTaken::taken;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(file.fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      if (handle_ != kNone) ::close(static_cast<int>(handle_));
      handle_ = file.release();
      return LockTaken::taken;
    }
  }
  return LockTaken::busy;
}

std::string nameProblem(std::string_view) { return {}; }

std::string sameFileKey(std::string_view path) { return std::string(path); }

std::string errorText(int error) {
  char buffer[256] = {};
  // The GNU variant may return a static text instead of filling the buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return text ? text : buffer;
}

std::string lastErrorText() { return errorText(errno); }

}  // namespace platform
