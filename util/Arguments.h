#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "util/Definition.h"

namespace util {

/// A command-line parser: turns tokens into named arguments, each with the values given for
/// it, in order.
///
/// "--name" names one argument; "-abc" names the one-letter arguments a, b and c. The first
/// ":" or "=" after the prefix ends the name, and non-empty text after it is a value (of the
/// last letter, for "-"); that text is never split again. A token without prefix is a value
/// of the argument named last; values before any name are dropped, and so are tokens that are
/// only "-" or "--". Names are case-sensitive, an alias is stored under its declared name,
/// names never declared are kept too, and an argument named again keeps its earlier values.
/// "--=x" names the argument with the empty name; "-=x" names no letter, so x is a value of
/// the argument named last, like a token without prefix.
class Arguments {
 public:
  /// The definition of `name`, made on first use. Aliases added to it count from the next
  /// `parse` on.
  Definition& declare(const std::string& name);

  /// Parses `tokens`, replacing the results of any earlier parse, then checks every declared
  /// argument against its definition. Returns false when some rule is broken; `errors` then
  /// holds one message per broken rule. The parsed values can be read either way.
  bool parse(const std::vector<std::string>& tokens);

  /// Whether the argument was named. An alias asks for its declared name.
  bool isPresent(std::string_view name) const;
  bool has(std::string_view name) const { return isPresent(name); }
  /// All values of the argument in the order given; empty when absent.
  const std::vector<std::string>& values(std::string_view name) const;
  /// The first value of the argument; empty when absent or given without a value.
  std::string firstValue(std::string_view name) const;

  /// Every name that was given, after alias replacement, in sorted order.
  std::vector<std::string> names() const;

  /// The messages of the rules the last `parse` found broken.
  const std::vector<std::string>& errors() const { return errors_; }

 private:
  using ValueMap = std::map<std::string, std::vector<std::string>, std::less<>>;

  void readToken(std::string_view token);
  void nameArgument(std::string_view name);
  /// Names every letter of a short-prefix token; the last letter becomes the current argument.
  void nameLetters(std::string_view letters);
  void addValue(std::string_view value);
  std::string_view resolved(std::string_view name) const;
  void checkDefinition(const Definition& definition);

  std::map<std::string, Definition, std::less<>> definitions_;
  std::map<std::string, std::string, std::less<>> aliases_;
  ValueMap parsed_;
  std::vector<std::string>* current_ = nullptr;
  std::vector<std::string> errors_;
};

}  // namespace util
