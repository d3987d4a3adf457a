#pragma once

#include <string>

namespace marlowick {

/// A temporary file beside a download's final path that receives the data, so that a failed
/// transfer never touches what is already at the final path. Named "." + file name +
/// ".marlowick-part" (with "-2", "-3", ... when that name is taken) in the same folder, made
/// exclusively so it never reuses an existing file. Removed when the object goes away unless
/// `commit` moved it onto the final path.
class PartFile {
 public:
  explicit PartFile(std::string finalPath) : finalPath_(std::move(finalPath)) {}
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  /// Makes the empty temporary file. When the folder, made or found earlier in the process, has
  /// gone meanwhile, it is made again, once. False with the system's reason in `failure` when no
  /// temporary file can be made in the folder.
  bool create(std::string& failure);
  /// Moves the temporary file onto the final path, replacing a file there. False with the
  /// system's reason in `failure` (the temporary file is then removed with the object).
  bool commit(std::string& failure);

  const std::string& path() const { return partPath_; }

 private:
  std::string finalPath_;
  std::string partPath_;
  bool pending_ = false;
};

}  // namespace marlowick
