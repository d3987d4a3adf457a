#include "marlowick/ResponseFile.h"

#include "platform/Encoding.h"
#include "util/Text.h"

namespace marlowick {

std::string stripQuotes(std::string_view text) {
  size_t first = text.find_first_not_of('"');
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of('"');
  return std::string(text.substr(first, last - first + 1));
}

// The mark is looked at before any trimming so that wide encodings keep their byte pairs.
std::string decodeResponseFile(std::string_view bytes) {
  struct Mark {
    std::string_view bytes;
    const char* charset;
  };
  // UTF-32LE's mark begins with UTF-16LE's: the longer one is tried first.
  static const Mark kMarks[] = {
      {{"\xEF\xBB\xBF", 3}, "UTF-8"},        {{"\xFF\xFE\x00\x00", 4}, "UTF-32LE"},
      {{"\x00\x00\xFE\xFF", 4}, "UTF-32BE"}, {{"\xFF\xFE", 2}, "UTF-16LE"},
      {{"\xFE\xFF", 2}, "UTF-16BE"},
  };
  for (const Mark& mark : kMarks) {
    if (bytes.substr(0, mark.bytes.size()) == mark.bytes) {
      return platform::toUtf8(bytes.substr(mark.bytes.size()), mark.charset);
    }
  }
  return platform::toUtf8(bytes, platform::localeCharset());
}

std::vector<std::string> responseFileTokens(std::string_view text) {
  std::vector<std::string> tokens;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = util::trimmed(line);
    std::string token = (line.size() > 1 && line[0] == '"') ? stripQuotes(line) : std::string(line);
    if (!token.empty()) tokens.push_back(std::move(token));
    start = end + 1;
  }
  return tokens;
}

}  // namespace marlowick
