#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace e2e {

/// One regular file of the served tree.
struct TreeFile {
  std::string path;  // relative, "/" between levels
  std::uint64_t size = 0;
  std::time_t modified = 0;
};

using FileSet = std::set<std::string>;

/// The tree every server serves, written by tests/e2e/make_tree.py once per test run (the
/// ctest fixture e2e_tree), or by the first test of this process when run on its own. It is
/// never changed by a test.
class ServedTree {
 public:
  static const ServedTree& get();
  /// The same tree without its names outside ASCII, for servers that read names as Latin-1.
  static const ServedTree& asciiNames();

  const std::string& root() const { return root_; }
  std::string file(const std::string& relative) const { return root_ + "/" + relative; }
  /// Every regular file, symbolic links left out, sorted by path.
  const std::vector<TreeFile>& files() const { return files_; }
  /// Paths of the files for which `keep` holds.
  FileSet select(const std::function<bool(const TreeFile&)>& keep) const;
  const TreeFile& at(const std::string& relative) const;

 private:
  explicit ServedTree(std::string root);
  std::string root_;
  std::vector<TreeFile> files_;
};

/// The file over 2 GiB, stored sparse.
inline const std::string kHugeFile = "big/huge.bin";

/// Relative paths of the regular files below `folder`.
FileSet filesBelow(const std::string& folder);

/// True when the two files hold the same bytes (read in blocks, so a 2 GiB file is fine).
bool sameBytes(const std::string& a, const std::string& b);

bool startsWith(const std::string& text, const std::string& prefix);
bool endsWith(const std::string& text, const std::string& suffix);

}  // namespace e2e
