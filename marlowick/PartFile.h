#pragma once

#include <cstdint>
#include <string>

#include "platform/Files.h"

namespace marlowick {

/// The one temporary file beside a download's final path that receives the data, so that a
/// failed transfer never touches what is already at the final path. Named "." + file name +
/// ".marlowick-part" in the same folder ("." + a digest of the name + ".marlowick-part" for a
/// name too long to carry both), always the same for the same final path: a later run reuses
/// it, to continue it or to start afresh, and part files never pile up. No remote name may end
/// in the suffix (see `isPartFileName`), so no listed file can ever land on a part file.
/// Removed when the object goes away unless `commit` moved it onto the final path or `keep`
/// kept it for a later try.
class PartFile {
 public:
  static constexpr const char* kSuffix = ".marlowick-part";

  explicit PartFile(std::string finalPath);
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  /// Makes sure the part file exists, keeping what an earlier run left in it, opens it for
  /// `file` and holds it until the object goes away. When the folder, made or found earlier in the
  /// process, has gone meanwhile, it is made again, once. False with the reason in `failure` when
  /// no part file can be made in the folder, or when another process holds it: a run fetching the
  /// same file into the same folder (a scheduled run overlapping the one before), whose part file
  /// is then neither written nor removed. Anything but a plain file at the part file's place (a
  /// link, on Windows any reparse point, a FIFO, a file with another name elsewhere) fails it with
  /// the system's reason, and is left there.
  bool create(std::string& failure);
  /// The bytes the part file holds now (0 when it cannot be read).
  std::uint64_t size() const;
  /// The part file, open for writing once `create` succeeded.
  platform::OutputFile& file() { return file_; }
  /// Moves the part file onto the final path, replacing a file there, and closes it. False with
  /// the reason in `failure` (the part file is then removed with the object), also when
  /// something else stands at the part file's place by now.
  bool commit(std::string& failure);
  /// Leaves the part file where it is when the object goes away, for a later run to continue.
  void keep() { pending_ = false; }

  const std::string& path() const { return partPath_; }

 private:
  std::string finalPath_;
  std::string partPath_;
  bool pending_ = false;
  platform::OutputFile file_;

  bool hold(std::string& failure);
};

/// True when the last component of `name` ends in the part files' suffix (letters in either
/// case, as a Windows folder would take them): such a remote name could land on a part file.
bool isPartFileName(const std::string& name);

}  // namespace marlowick
