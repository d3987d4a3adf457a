#include "kestrelkit/net/ftp/MlsdParser.h"

#include <cstring>
#include <limits>
#include <string_view>

#include "kestrelkit/net/ftp/ListParser.h"

namespace kestrelkit::net::ftp {
namespace {

bool isDigit(char byte) { return byte >= '0' && byte <= '9'; }

char lower(char byte) { return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32) : byte; }

bool sameWord(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (lower(text[i]) != word[i]) return false;
  }
  return true;
}

bool allDigits(std::string_view text) {
  for (char byte : text) {
    if (!isDigit(byte)) return false;
  }
  return !text.empty();
}

std::int64_t number(std::string_view digits) {
  std::int64_t value = 0;
  for (char byte : digits) value = value * 10 + (byte - '0');
  return value;
}

int typeOf(std::string_view value) {
  if (sameWord(value, "file")) return kMlsdFile;
  if (sameWord(value, "dir")) return kMlsdFolder;
  if (sameWord(value, "cdir")) return kMlsdCurrentFolder;
  if (sameWord(value, "pdir")) return kMlsdParentFolder;
  return kMlsdOther;
}

// "size": 1 to 20 digits that fit in 64 bits.
void readSize(MlsdLineFacts& facts, std::string_view value) {
  if (!allDigits(value) || value.size() > 20) return;
  std::uint64_t size = 0;
  for (char byte : value) {
    const std::uint64_t digit = static_cast<std::uint64_t>(byte - '0');
    if (size > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return;
    size = size * 10 + digit;
  }
  facts.hasSize = true;
  facts.size = size;
}

// "modify": YYYYMMDDHHMMSS, perhaps with a fraction of a second, always UTC.
void readTime(MlsdLineFacts& facts, std::string_view value) {
  if (value.size() < 14 || !allDigits(value.substr(0, 14))) return;
  if (value.size() > 14 && (value[14] != '.' || !allDigits(value.substr(15)))) return;
  const std::int64_t year = number(value.substr(0, 4));
  const std::int64_t month = number(value.substr(4, 2));
  const std::int64_t day = number(value.substr(6, 2));
  const std::int64_t hour = number(value.substr(8, 2));
  const std::int64_t minute = number(value.substr(10, 2));
  const std::int64_t second = number(value.substr(12, 2));
  // A leap second (60) is allowed; any other field out of range makes the time unknown.
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return;
  }
  facts.hasTime = true;
  facts.time = civilToSeconds(year, month - 1, day) + hour * 3600 + minute * 60 + second;
}

}  // namespace

int parseMlsdLine(MlsdLineFacts& facts, const char* line, std::size_t length) {
  facts = MlsdLineFacts{};
  if (line == nullptr) return 0;
  const std::string_view text(line, length);
  // The facts end at the first blank; a fact's value may hold no blank, a name may.
  const std::size_t blank = text.find(' ');
  if (blank == std::string_view::npos || blank + 1 >= length) return 0;
  std::string_view rest = text.substr(0, blank);
  while (!rest.empty()) {
    const std::size_t end = rest.find(';');
    if (end == std::string_view::npos) return 0;
    const std::string_view fact = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const std::size_t equals = fact.find('=');
    if (equals == std::string_view::npos || equals == 0) return 0;
    const std::string_view name = fact.substr(0, equals);
    const std::string_view value = fact.substr(equals + 1);
    if (sameWord(name, "type")) {
      facts.type = typeOf(value);
    } else if (sameWord(name, "size")) {
      readSize(facts, value);
    } else if (sameWord(name, "modify")) {
      readTime(facts, value);
    }
  }
  facts.name = line + blank + 1;
  facts.nameLength = length - blank - 1;
  return 1;
}

}  // namespace kestrelkit::net::ftp
