#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

/// What is found at a local path.
enum class PathKind { missing, file, folder, other };

/// Looks at `path` (UTF-8). Every call counts as one file-system query.
PathKind pathKind(const std::string& path);

/// Number of `pathKind` queries made by this process so far (for tests of query counts).
std::uint64_t pathQueryCount();

/// Size of the file at `path`, or nothing when it cannot be read.
std::optional<std::uint64_t> fileSize(const std::string& path);

/// When the file at `path` was last written, in seconds since 1970 (UTC), or nothing when it
/// cannot be read.
std::optional<std::int64_t> modifiedTime(const std::string& path);

/// Sets when the file at `path` was last written to `unixSeconds` (UTC, whole seconds). Returns
/// the empty text on success, else the system's reason.
std::string setModifiedTime(const std::string& path, std::int64_t unixSeconds);

/// Why the entry at `path` itself (a link is never followed) is not a plain file, in the
/// system's words: a symbolic link (on Windows any reparse point), a folder, a FIFO or device,
/// or a file with a further name elsewhere (a hard link), any of which would carry what is
/// written there somewhere else, or hold the writer. Empty for a regular file with one name.
std::string plainFileProblem(const std::string& path);

/// Deletes a file. Returns false and sets `error` on failure.
bool deleteFile(const std::string& path, std::string* error = nullptr);

/// Why the local file system cannot hold a file or folder called `name` (one level of a path,
/// UTF-8), in the system's words; empty when it can. On Windows a colon would name a hidden
/// stream of another file, and a device name (CON, NUL, COM1, ...) the device, so both are
/// refused with the characters the system refuses; elsewhere every name is fine.
std::string nameProblem(std::string_view name);

/// A key equal for two local paths that the file system takes for one file, as far as their
/// texts tell: the path itself where names keep their letter case; on Windows the path in one
/// letter case and without the trailing dots and blanks the system drops from each level.
std::string sameFileKey(std::string_view path);

/// Makes one folder whose parent exists. On failure returns false and sets `error` to the
/// system's message for the failure.
bool makeFolder(const std::string& path, std::string* error = nullptr);

/// Makes a folder and every missing folder above it (like mkdir -p).
/// On failure returns false and sets `error` to a text naming the folder and the reason.
bool makeFolderChain(const std::string& path, std::string* error = nullptr);

/// std::fopen for a UTF-8 `path` (where the C runtime would read a narrow path in another code
/// page, the path goes to the system as UTF-16). Null on failure, with the reason for
/// lastErrorText().
std::FILE* openFile(const std::string& path, const char* mode);

/// Opens `path` (UTF-8) for appending, making the file when missing; anything that takes
/// appended writes will do (a file, the null device, a FIFO with a reader). A FIFO that has no
/// reader fails at once instead of waiting for one. Null on failure, with the reason for
/// lastErrorText().
std::FILE* openForAppending(const std::string& path);

/// Appends `data` to the file at `path` (UTF-8), making it when missing, in one write of the
/// system's, so that a reader of the file never sees part of it; a FIFO without a reader fails at
/// once. False with the system's message in `error`, also when the system took only part of it.
bool appendInOneWrite(const std::string& path, std::string_view data, std::string* error = nullptr);

/// What `createNewFile` found.
enum class NewFile { created, exists, failed };

/// Makes an empty file at `path` only when nothing is there yet, never opening one that is: the
/// test and the making are one system call. On failure sets `error` to the system's message.
NewFile createNewFile(const std::string& path, std::string* error = nullptr);

/// Moves a file onto `to`, replacing a file there. Returns false and sets `error` on failure.
bool renameFile(const std::string& from, const std::string& to, std::string* error = nullptr);

/// Reads the whole file at `path` into `content`. On failure returns false and sets `error` to
/// the path and the system's reason.
bool readWholeFile(const std::string& path, std::string& content, std::string* error = nullptr);

/// What `FileLock::take` found.
enum class LockTaken { taken, busy, failed };

/// A local file written through the system's own write call, with no buffer in between: each
/// `write` hands its bytes to the system at once, so a large caller buffer moves in one call.
/// Closed when the object goes away.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Creates the file at `path`, or opens the one there keeping its first `keep` bytes (none by
  /// default), to write on after them. False with the system's message in `error`, also when a
  /// symbolic link stands at `path` (on POSIX it is never written through) or a FIFO there has
  /// no reader.
  bool open(const std::string& path, std::string* error = nullptr, std::uint64_t keep = 0);
  /// Opens the plain file at `path`, making it when missing, and takes an exclusive hold on it
  /// (see `FileLock`) without waiting: `busy` when another holder has it. `failed`, with the
  /// system's reason in `error`, when anything but a regular file with one name is there, as
  /// `plainFileProblem` tells it, judged on the file opened itself: a link is never followed
  /// and a FIFO never waited on. What is written later goes to that very file.
  LockTaken openHeld(const std::string& path, std::string* error = nullptr);
  /// True while `path` names the open file itself.
  bool isAt(const std::string& path) const;
  /// Keeps the first `keep` bytes of the open file and writes on after them. False with the
  /// system's message in `error`.
  bool restartAt(std::uint64_t keep, std::string* error = nullptr);
  bool isOpen() const { return handle_ != kClosed; }
  /// Writes all of `data`. False with the system's message in `error`.
  bool write(const char* data, std::size_t length, std::string* error = nullptr);
  /// Closes the file; a failure that the system reports only now gives false with its message.
  /// True when nothing is open.
  bool close(std::string* error = nullptr);

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
};

/// An exclusive hold on a file, which other holders in this process or any other respect; it
/// keeps no one from reading or writing the file. Let go when the object goes away.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  /// Takes the hold on the file at `path`, making it when missing, without waiting: `busy` when
  /// another holder has it, `failed` with the system's message in `error` when the file cannot
  /// be opened. Where the file system keeps no holds, the file counts as taken.
  LockTaken take(const std::string& path, std::string* error = nullptr);

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;
};

/// The system's message for an error number, without a line end.
std::string errorText(int error);

/// The system's message for the last failed call of this thread.
std::string lastErrorText();

}  // namespace platform
