#include "marlowick/Netrc.h"

#include "util/Text.h"

namespace marlowick {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

/// Reads netrc words one at a time.
class Words {
 public:
  explicit Words(std::string_view text) : text_(text) {}

  /// The next word; false at the end of the text.
  bool next(std::string& word) {
    skipBlanksAndComments();
    if (at_ >= text_.size()) return false;
    word.clear();
    if (text_[at_] == '"') return quoted(word);
    while (at_ < text_.size() && !isBlank(text_[at_])) word += text_[at_++];
    return true;
  }

  /// Passes over a macro's body: the lines after the current one, up to an empty line.
  void skipMacro() {
    for (std::size_t end = text_.find('\n', at_); end != std::string_view::npos;
         end = text_.find('\n', at_)) {
      at_ = end + 1;
      const std::size_t next = text_.find('\n', at_);
      std::string_view line = text_.substr(at_, next == std::string_view::npos ? next : next - at_);
      if (line.empty() || line == "\r") return;
    }
    at_ = text_.size();
  }

 private:
  void skipBlanksAndComments() {
    for (;;) {
      while (at_ < text_.size() && isBlank(text_[at_])) ++at_;
      if (at_ >= text_.size() || text_[at_] != '#') return;
      const std::size_t end = text_.find('\n', at_);
      at_ = end == std::string_view::npos ? text_.size() : end + 1;
    }
  }

  bool quoted(std::string& word) {
    ++at_;
    while (at_ < text_.size() && text_[at_] != '"') {
      if (text_[at_] == '\\' && at_ + 1 < text_.size()) ++at_;
      word += text_[at_++];
    }
    if (at_ < text_.size()) ++at_;  // the closing quote
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

NetrcEntry netrcEntry(std::string_view text, std::string_view host) {
  const std::string wanted = util::lowerAscii(host);
  Words words(text);
  NetrcEntry machine, fallback;
  NetrcEntry* current = nullptr;  // the entry being read, when it is one that may be wanted
  bool inEntry = false;
  std::string word, value;
  while (words.next(word)) {
    if (word == "machine" || word == "default") {
      // The first matching machine entry is complete: later entries cannot change it.
      if (machine.found) break;
      const bool isDefault = word == "default";
      if (!isDefault && !words.next(value)) break;
      inEntry = true;
      current = nullptr;
      if (isDefault && !fallback.found) {
        current = &fallback;
      } else if (!isDefault && util::lowerAscii(value) == wanted) {
        current = &machine;
      }
      if (current != nullptr) current->found = true;
    } else if (word == "macdef") {
      words.next(value);
      words.skipMacro();
    } else if (inEntry && (word == "login" || word == "password" || word == "account")) {
      if (!words.next(value)) break;
      if (current == nullptr || word == "account") continue;
      (word == "login" ? current->login : current->password) = value;
    }
  }
  return machine.found ? machine : fallback;
}

}  // namespace marlowick
