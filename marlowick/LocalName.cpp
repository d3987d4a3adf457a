#include "marlowick/LocalName.h"

#include <cerrno>
#include <utility>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace marlowick {

LocalNames::LocalNames(const LocalNames& other) {
  std::lock_guard<std::mutex> guard(other.mutex_);
  owners_ = other.owners_;
}

LocalNames& LocalNames::operator=(const LocalNames& other) {
  if (this == &other) return *this;
  std::scoped_lock guard(mutex_, other.mutex_);
  owners_ = other.owners_;
  return *this;
}

bool LocalNames::claim(const std::string& localPath, const std::string& remoteName) {
  std::string key = platform::sameFileKey(localPath);
  std::lock_guard<std::mutex> guard(mutex_);
  auto [owner, claimed] = owners_.try_emplace(std::move(key), remoteName);
  return claimed || owner->second == remoteName;
}

std::string localPathObstacle(const std::string& localPath) {
  const std::size_t separator = localPath.rfind(platform::kPathSeparator);
  std::string problem = platform::nameProblem(
      separator == std::string::npos ? localPath : localPath.substr(separator + 1));
  if (!problem.empty()) return problem;
  if (platform::pathKind(localPath) == platform::PathKind::folder)
    return platform::errorText(EISDIR);
  return {};
}

}  // namespace marlowick
