#include "util/Arguments.h"

#include <array>

namespace util {

namespace {

constexpr std::array<std::string_view, 1> kShortPrefixes = {"-"};
constexpr std::array<std::string_view, 1> kLongPrefixes = {"--"};
constexpr std::array<std::string_view, 2> kSeparators = {":", "="};

struct Prefix {
  std::size_t length = 0;
  bool isLong = false;
};

/// The longest prefix `token` begins with; length 0 when it has none.
Prefix longestPrefix(std::string_view token) {
  Prefix found;
  for (std::string_view prefix : kShortPrefixes) {
    if (token.starts_with(prefix) && prefix.size() > found.length) found = {prefix.size(), false};
  }
  for (std::string_view prefix : kLongPrefixes) {
    if (token.starts_with(prefix) && prefix.size() >= found.length) found = {prefix.size(), true};
  }
  return found;
}

struct Separator {
  std::size_t position = std::string_view::npos;
  std::size_t length = 0;
};

/// The separator that occurs first in `text`; position npos when there is none.
Separator firstSeparator(std::string_view text) {
  Separator found;
  for (std::string_view separator : kSeparators) {
    const std::size_t position = text.find(separator);
    if (position < found.position) found = {position, separator.size()};
  }
  return found;
}

std::string countText(int count) {
  return std::to_string(count) + (count == 1 ? " value" : " values");
}

}  // namespace

Definition& Arguments::declare(const std::string& name) {
  return definitions_.try_emplace(name, name).first->second;
}

bool Arguments::parse(const std::vector<std::string>& tokens) {
  aliases_.clear();
  for (const auto& [name, definition] : definitions_) {
    for (const std::string& alias : definition.aliases()) aliases_.insert_or_assign(alias, name);
  }
  parsed_.clear();
  errors_.clear();
  current_ = nullptr;

  for (const std::string& token : tokens) readToken(token);
  current_ = nullptr;

  for (const auto& [name, definition] : definitions_) checkDefinition(definition);
  return errors_.empty();
}

void Arguments::readToken(std::string_view token) {
  const Prefix prefix = longestPrefix(token);
  if (prefix.length == 0) {
    addValue(token);
    return;
  }
  if (token.size() == prefix.length) return;

  const std::string_view text = token.substr(prefix.length);
  const Separator separator = firstSeparator(text);
  const std::string_view names = text.substr(0, separator.position);
  if (prefix.isLong) {
    nameArgument(names);
  } else {
    nameLetters(names);
  }
  if (separator.position == std::string_view::npos) return;
  const std::string_view value = text.substr(separator.position + separator.length);
  if (!value.empty()) addValue(value);
}

void Arguments::nameArgument(std::string_view name) {
  name = resolved(name);
  auto found = parsed_.find(name);
  if (found == parsed_.end())
    found = parsed_.emplace(std::string(name), ValueMap::mapped_type{}).first;
  current_ = &found->second;
}

void Arguments::nameLetters(std::string_view letters) {
  if (letters.empty()) return;
  // A letter named again changes nothing, so a huge token costs one lookup per distinct letter.
  std::array<bool, 256> named{};
  for (std::size_t i = 0; i < letters.size(); ++i) {
    bool& done = named[static_cast<unsigned char>(letters[i])];
    if (!done) nameArgument(letters.substr(i, 1));
    done = true;
  }
  nameArgument(letters.substr(letters.size() - 1));
}

void Arguments::addValue(std::string_view value) {
  // A value before any name belongs to no argument.
  if (current_ != nullptr) current_->emplace_back(value);
}

std::string_view Arguments::resolved(std::string_view name) const {
  const auto alias = aliases_.find(name);
  return alias == aliases_.end() ? name : std::string_view(alias->second);
}

bool Arguments::isPresent(std::string_view name) const {
  return parsed_.find(resolved(name)) != parsed_.end();
}

const std::vector<std::string>& Arguments::values(std::string_view name) const {
  static const std::vector<std::string> kNone;
  const auto found = parsed_.find(resolved(name));
  return found == parsed_.end() ? kNone : found->second;
}

std::string Arguments::firstValue(std::string_view name) const {
  const std::vector<std::string>& all = values(name);
  return all.empty() ? std::string() : all.front();
}

std::vector<std::string> Arguments::names() const {
  std::vector<std::string> all;
  all.reserve(parsed_.size());
  for (const auto& entry : parsed_) all.push_back(entry.first);
  return all;
}

void Arguments::checkDefinition(const Definition& definition) {
  const std::string& name = definition.name();
  if (!isPresent(name)) {
    if (definition.required()) errors_.push_back("argument " + name + " is required");
    return;
  }
  const std::vector<std::string>& given = values(name);
  const auto count = static_cast<long long>(given.size());
  if (count < definition.least()) {
    errors_.push_back("argument " + name + " takes at least " + countText(definition.least()) +
                      " but was given " + std::to_string(count));
  }
  if (definition.most() >= 0 && count > definition.most()) {
    errors_.push_back("argument " + name + " takes at most " + countText(definition.most()) +
                      " but was given " + std::to_string(count));
  }
  for (const std::string& other : definition.conflicts()) {
    if (isPresent(other)) {
      errors_.push_back("argument " + name + " cannot be given together with " + other);
    }
  }
  for (const std::string& other : definition.prerequisites()) {
    if (!isPresent(other)) errors_.push_back("argument " + name + " needs argument " + other);
  }
  for (const std::string& value : given) {
    if (const std::string* message = definition.failedCheck(value)) {
      errors_.push_back("invalid " + name + " value \"" + value + "\": " + *message);
    }
  }
}

}  // namespace util
