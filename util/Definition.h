#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace util {

/// One declared command-line argument and the rules its values must follow. Every setter
/// returns the definition itself so that rules can be chained after `Arguments::declare`.
///
/// A fresh definition takes zero or one value, is optional and has no conflicts,
/// prerequisites or checks.
class Definition {
 public:
  /// A test of one value; false rejects the value.
  using Check = std::function<bool(const std::string& value)>;

  explicit Definition(std::string name);

  /// Allows from zero to any number of values.
  Definition& anyNumberOfValues();
  /// Allows from `least` to `most` values when present; `most` = -1 sets no upper limit.
  Definition& numberOfValues(int least, int most);
  /// Another spelling that the parser stores under this definition's name.
  Definition& addAlias(std::string alias);
  Definition& addAlias(std::initializer_list<std::string> aliases);
  /// Makes the argument compulsory.
  Definition& setRequired(bool required = true);
  /// Forbids giving this argument together with `name`.
  Definition& addConflict(std::string name);
  /// Demands `name` whenever this argument is given.
  Definition& addPrerequisite(std::string name);
  /// Every value must pass `check`; `message` says what a rejected value lacks.
  Definition& addCheck(Check check, std::string message);

  const std::string& name() const { return name_; }
  const std::vector<std::string>& aliases() const { return aliases_; }
  int least() const { return least_; }
  int most() const { return most_; }
  bool required() const { return required_; }
  const std::vector<std::string>& conflicts() const { return conflicts_; }
  const std::vector<std::string>& prerequisites() const { return prerequisites_; }

  /// For a value that fails a check: that check's message. Nothing when every check passes.
  const std::string* failedCheck(const std::string& value) const;

 private:
  struct ValueCheck {
    Check test;
    std::string message;
  };

  std::string name_;
  std::vector<std::string> aliases_;
  int least_ = 0;
  int most_ = 1;
  bool required_ = false;
  std::vector<std::string> conflicts_;
  std::vector<std::string> prerequisites_;
  std::vector<ValueCheck> checks_;
};

}  // namespace util
