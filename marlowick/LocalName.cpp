#include "marlowick/LocalName.h"

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
  std::lock_guard<std::mutex> guard(mutex_);
  auto [owner, claimed] = owners_.try_emplace(localPath, remoteName);
  return claimed || owner->second == remoteName;
}

}  // namespace marlowick
