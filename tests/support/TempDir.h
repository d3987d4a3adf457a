#pragma once

#include <string>

namespace testing_support {

/// A fresh folder below the system's temporary folder, removed with everything in it when the
/// object goes away. `path()` ends without a separator.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  /// path() + "/" + relative
  std::string file(const std::string& relative) const;

 private:
  std::string path_;
};

/// Whole content of a file ("" when it cannot be read).
std::string readFile(const std::string& path);
/// Writes `content` to `path`, making parent folders; throws on failure.
void writeFile(const std::string& path, const std::string& content);

}  // namespace testing_support
