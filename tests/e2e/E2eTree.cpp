#include "tests/e2e/E2eTree.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

std::string treeScript() { return std::string(MARLOWICK_SOURCE_DIR) + "/tests/e2e/tree.sh"; }

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

/// A tree this process made because no test run had made one: removed when the process ends.
class OwnTree {
 public:
  OwnTree() {
    testing_support::ProcessOptions options;
    options.timeout = std::chrono::minutes(5);
    auto made = testing_support::runProcess({"/bin/bash", treeScript(), "make", state()}, options);
    if (made.exitCode != 0) throw std::runtime_error("tree.sh make failed: " + made.err);
  }
  ~OwnTree() { testing_support::runProcess({"/bin/bash", treeScript(), "remove", state()}); }
  OwnTree(const OwnTree&) = delete;
  OwnTree& operator=(const OwnTree&) = delete;
  std::string state() const { return stateDir_.file("tree.path"); }

 private:
  testing_support::TempDir stateDir_;
};

/// The folder tree.sh made for this run, which holds the trees.
std::string runFolder() {
  // Set by the ctest fixture that made the tree for this run.
  const std::string runState = MARLOWICK_E2E_STATE;
  std::string folder = firstLine(runState);
  if (!folder.empty() && fs::is_directory(folder + "/tree")) return folder;
  static const auto own = std::make_unique<OwnTree>();
  return firstLine(own->state());
}

}  // namespace

const ServedTree& ServedTree::get() {
  static const ServedTree tree(runFolder() + "/tree");
  return tree;
}

const ServedTree& ServedTree::asciiNames() {
  static const ServedTree tree(runFolder() + "/tree-ascii");
  return tree;
}

ServedTree::ServedTree(std::string root) : root_(std::move(root)) {
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    if (entry.is_symlink() || !entry.is_regular_file()) continue;
    struct stat info {};
    ::stat(entry.path().c_str(), &info);
    files_.push_back({fs::relative(entry.path(), root_).generic_string(),
                      static_cast<std::uint64_t>(info.st_size), info.st_mtime});
  }
  std::sort(files_.begin(), files_.end(),
            [](const TreeFile& a, const TreeFile& b) { return a.path < b.path; });
}

FileSet ServedTree::select(const std::function<bool(const TreeFile&)>& keep) const {
  FileSet result;
  for (const auto& file : files_) {
    if (keep(file)) result.insert(file.path);
  }
  return result;
}

const TreeFile& ServedTree::at(const std::string& relative) const {
  for (const auto& file : files_) {
    if (file.path == relative) return file;
  }
  throw std::out_of_range("not in the served tree: " + relative);
}

FileSet filesBelow(const std::string& folder) {
  FileSet result;
  if (!fs::exists(folder)) return result;
  // Read while a job may still rename or remove its part files: an entry gone meanwhile is
  // simply not there, and the names are made without asking the file system again.
  std::error_code error;
  fs::recursive_directory_iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) {
    std::error_code kind;
    if (it->is_regular_file(kind) && !it->is_symlink(kind)) {
      result.insert(it->path().lexically_relative(folder).generic_string());
    }
  }
  return result;
}

bool sameBytes(const std::string& a, const std::string& b) {
  std::ifstream left(a, std::ios::binary);
  std::ifstream right(b, std::ios::binary);
  if (!left || !right) return false;
  // Small enough to come from the heap: a block per call mapped afresh costs more than the reads.
  std::vector<char> one(64 * 1024);
  std::vector<char> two(64 * 1024);
  for (;;) {
    left.read(one.data(), static_cast<std::streamsize>(one.size()));
    right.read(two.data(), static_cast<std::streamsize>(two.size()));
    if (left.gcount() != right.gcount()) return false;
    if (!std::equal(one.begin(), one.begin() + left.gcount(), two.begin())) return false;
    if (left.gcount() == 0) return true;
  }
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace e2e
