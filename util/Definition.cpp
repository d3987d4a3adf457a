#include "util/Definition.h"

#include <utility>

namespace util {

Definition::Definition(std::string name) : name_(std::move(name)) {}

Definition& Definition::anyNumberOfValues() { return numberOfValues(0, -1); }

Definition& Definition::numberOfValues(int least, int most) {
  least_ = least;
  most_ = most;
  return *this;
}

Definition& Definition::addAlias(std::string alias) {
  aliases_.push_back(std::move(alias));
  return *this;
}

Definition& Definition::addAlias(std::initializer_list<std::string> aliases) {
  aliases_.insert(aliases_.end(), aliases.begin(), aliases.end());
  return *this;
}

Definition& Definition::setRequired(bool required) {
  required_ = required;
  return *this;
}

Definition& Definition::addConflict(std::string name) {
  conflicts_.push_back(std::move(name));
  return *this;
}

Definition& Definition::addPrerequisite(std::string name) {
  prerequisites_.push_back(std::move(name));
  return *this;
}

Definition& Definition::addCheck(Check check, std::string message) {
  checks_.push_back({std::move(check), std::move(message)});
  return *this;
}

const std::string* Definition::failedCheck(const std::string& value) const {
  for (const ValueCheck& check : checks_) {
    if (!check.test(value)) return &check.message;
  }
  return nullptr;
}

}  // namespace util
