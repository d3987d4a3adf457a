#include "kestrelkit/net/ftp/ListParser.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "platform/Clock.h"

namespace kestrelkit::net::ftp {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// A date without a year lies at most this far in the past: 350 days.
constexpr std::int64_t kYearGuessWindow = 350 * kSecondsPerDay;
constexpr std::int64_t kCalendarFieldMax = 999999999;
constexpr std::int64_t kNoYearYet = std::numeric_limits<std::int64_t>::min();

std::int64_t systemUnixSeconds() {
  return (platform::utcTicksNow() - ticks::kUnixEpoch) / ticks::kPerSecond;
}

std::atomic<UnixSecondsSource> clockSource{nullptr};
std::atomic<std::int64_t> rememberedYear{kNoYearYet};

// Keeps the year arithmetic in range whatever a replaced clock says (about 31 million years).
constexpr std::int64_t kClockLimit = 1000000000000000;

std::int64_t unixNow() {
  UnixSecondsSource source = clockSource.load();
  return std::clamp(source ? source() : systemUnixSeconds(), -kClockLimit, kClockLimit);
}

// Wraps modulo 2^64 by design: non-digits and over-long fields give nonsense, not undefined
// behaviour.
std::uint64_t parseDigits(const char* text, std::size_t n) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < n; ++i) {
    value = value * 10 + (static_cast<std::uint64_t>(static_cast<unsigned char>(text[i])) - '0');
  }
  return value;
}

// A wrapped accumulator as a calendar field. Wrapped "negative" values (from bytes below '0')
// clamp to the top, like any other out-of-range value.
std::int64_t calendarField(std::uint64_t value) {
  return static_cast<std::int64_t>(std::min<std::uint64_t>(value, kCalendarFieldMax));
}

int monthIndex(const char* text, std::size_t n) {
  static constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                            "jul", "aug", "sep", "oct", "nov", "dec"};
  if (n != 3) return -1;
  auto same = [](char byte, char letter) { return byte == letter || byte == letter - 32; };
  for (int i = 0; i < 12; ++i) {
    const char* month = kMonths[i];
    if (same(text[0], month[0]) && same(text[1], month[1]) && same(text[2], month[2])) return i;
  }
  return -1;
}

bool isDigit(char byte) { return byte >= '0' && byte <= '9'; }

// Length of the leading digits of a field that ends in `suffix` right after them; 0 when the
// field is not so made.
std::size_t digitsBefore(const char* field, std::size_t n, const char* suffix,
                         std::size_t suffixLength) {
  std::size_t digits = 0;
  while (digits < n && isDigit(field[digits])) ++digits;
  if (digits == 0 || n - digits != suffixLength) return 0;
  for (std::size_t k = 0; k < suffixLength; ++k) {
    if (field[digits + k] != suffix[k]) return 0;
  }
  return digits;
}

// The CJK calendar signs as Japanese and Chinese servers write them in UTF-8.
constexpr char kMonthSign[] = "\xe6\x9c\x88";  // 月
constexpr char kDaySign[] = "\xe6\x97\xa5";    // 日
constexpr char kYearSign[] = "\xe5\xb9\xb4";   // 年
constexpr std::size_t kSignLength = 3;

// A month written "3月": index 2; -1 for anything else.
int cjkMonthIndex(const char* field, std::size_t n) {
  const std::size_t digits = digitsBefore(field, n, kMonthSign, kSignLength);
  if (digits == 0 || digits > 2) return -1;
  const std::uint64_t month = parseDigits(field, digits);
  return month >= 1 && month <= 12 ? static_cast<int>(month) - 1 : -1;
}

// A field without the CJK sign it may end in.
std::size_t withoutSign(const char* field, std::size_t n, const char* sign) {
  const std::size_t digits = digitsBefore(field, n, sign, kSignLength);
  return digits != 0 ? digits : n;
}

// An ISO date "2024-03-02".
bool isoDate(const char* field, std::size_t n, std::int64_t& year, std::int64_t& month,
             std::int64_t& day) {
  if (n != 10 || field[4] != '-' || field[7] != '-') return false;
  for (std::size_t k : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (!isDigit(field[k])) return false;
  }
  year = static_cast<std::int64_t>(parseDigits(field, 4));
  month = static_cast<std::int64_t>(parseDigits(field + 5, 2)) - 1;
  day = static_cast<std::int64_t>(parseDigits(field + 8, 2));
  return true;
}

// A zone as `ls --full-time` writes it, "+0100": its offset east of UTC in seconds.
bool zoneOffset(const char* field, std::size_t n, std::int64_t& offset) {
  if (n != 5 || (field[0] != '+' && field[0] != '-')) return false;
  for (std::size_t k = 1; k < 5; ++k) {
    if (!isDigit(field[k])) return false;
  }
  const auto hours = static_cast<std::int64_t>(parseDigits(field + 1, 2));
  const auto minutes = static_cast<std::int64_t>(parseDigits(field + 3, 2));
  offset = (hours * 3600 + minutes * 60) * (field[0] == '-' ? -1 : 1);
  return true;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days from 1970-01-01 to the first of the month (month 1..12), proleptic Gregorian.
std::int64_t daysFromCivil(std::int64_t year, std::int64_t month) {
  year -= month <= 2;
  const std::int64_t era = floorDiv(year, 400);
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t monthFromMarch = month > 2 ? month - 3 : month + 9;
  const std::int64_t dayOfYear = (153 * monthFromMarch + 2) / 5;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

std::int64_t yearOfUnixSeconds(std::int64_t seconds) {
  std::int64_t days = floorDiv(seconds, kSecondsPerDay) + 719468;
  const std::int64_t era = floorDiv(days, 146097);
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  return yearOfEra + era * 400 + (monthFromMarch >= 10 ? 1 : 0);
}

std::int64_t currentYear(std::int64_t now) {
  std::int64_t year = rememberedYear.load();
  if (year == kNoYearYet) {
    year = yearOfUnixSeconds(now);
    rememberedYear.store(year);
  }
  return year;
}

bool isLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// A date listed without a year: the first year from last year on that puts it less than 350
// days in the past (or anywhere in the future). 29 February exists only in leap years, so only
// they are tried for it: in any other year it would count on into 1 March.
std::int64_t guessDateSeconds(std::int64_t month, std::int64_t day) {
  const std::int64_t now = unixNow();
  const std::int64_t year = currentYear(now);
  const bool leapDay = month == 1 && day == 29;
  for (std::int64_t candidate = year - 1; candidate < year + 100; ++candidate) {
    if (leapDay && !isLeapYear(candidate)) continue;
    const std::int64_t t = civilToSeconds(candidate, month, day);
    if (now - t < kYearGuessWindow) return t;
  }
  return 0;
}

std::int64_t clockSeconds(std::int64_t hour, std::int64_t minute) {
  return hour * 3600 + minute * 60;
}

/// Reads forward in a line; every search that runs into the end of the line fails.
class Cursor {
 public:
  Cursor(const char* line, std::size_t length, std::size_t start = 0)
      : line_(line), length_(length), j_(start) {}

  std::size_t at() const { return j_; }
  char byte() const { return line_[j_]; }
  const char* from(std::size_t i) const { return line_ + i; }
  std::size_t length() const { return length_; }

  /// Moves one byte on; false at the end of the line.
  bool step() { return ++j_ != length_; }
  bool skipTo(char stop) {
    return skipWhile([stop](char c) { return c != stop; });
  }
  bool skipRun(char run) {
    return skipWhile([run](char c) { return c == run; });
  }
  template <typename Predicate>
  bool skipWhile(Predicate keepGoing) {
    while (keepGoing(line_[j_])) {
      if (!step()) return false;
    }
    return true;
  }
  /// Value of the digits from `start` to the cursor.
  std::uint64_t digitsFrom(std::size_t start) const {
    return parseDigits(line_ + start, j_ - start);
  }

 private:
  const char* line_;
  std::size_t length_;
  std::size_t j_;
};

bool isUnixType(char byte) {
  switch (byte) {
    case 'b':
    case 'c':
    case 'd':
    case 'l':
    case 'p':
    case 's':
    case '-':
      return true;
    default:
      return false;
  }
}

int parseEplf(ListLineFacts& facts, const char* line, std::size_t length) {
  std::size_t i = 1;
  for (std::size_t j = 1; j < length; ++j) {
    if (line[j] == '\t') {
      facts.name = line + j + 1;
      facts.nameLength = length - j - 1;
      return 1;
    }
    if (line[j] != ',') continue;
    // A fact is acted on only when its closing comma is reached; an empty fact starts with ','.
    const char* rest = line + i + 1;
    const std::size_t restLength = j - i - (i < j ? 1 : 0);
    switch (line[i]) {
      case '/':
        facts.mayEnter = 1;
        break;
      case 'r':
        facts.mayRetrieve = 1;
        break;
      case 's':
        facts.sizeKind = 1;
        facts.size = parseDigits(rest, restLength);
        break;
      case 'm':
        facts.timeKind = kTimeExact;
        facts.time = static_cast<std::int64_t>(std::min<std::uint64_t>(
            parseDigits(rest, restLength), std::numeric_limits<std::int64_t>::max()));
        break;
      case 'i':
        facts.idKind = 1;
        facts.id = rest;
        facts.idLength = restLength;
        break;
      default:
        break;
    }
    i = j + 1;
  }
  return 0;
}

// The time-or-year field that ends the date of a UNIX line.
bool unixTime(ListLineFacts& facts, const char* field, std::size_t n, std::int64_t month,
              std::int64_t day) {
  n = withoutSign(field, n, kYearSign);
  if (n == 4 && field[1] == ':') {
    facts.timeKind = kTimeRemoteMinute;
    facts.time =
        guessDateSeconds(month, day) + clockSeconds(calendarField(parseDigits(field, 1)),
                                                    calendarField(parseDigits(field + 2, 2)));
  } else if (n == 5 && field[2] == ':') {
    facts.timeKind = kTimeRemoteMinute;
    facts.time =
        guessDateSeconds(month, day) + clockSeconds(calendarField(parseDigits(field, 2)),
                                                    calendarField(parseDigits(field + 3, 2)));
  } else if (n >= 4) {
    facts.timeKind = kTimeRemoteDay;
    facts.time = civilToSeconds(calendarField(parseDigits(field, n)), month, day);
  } else {
    return false;
  }
  return true;
}

// The time after an ISO date: "15:13", or with seconds and a fraction, "15:13:45.123456789"
// (the fraction is dropped).
bool isoTime(ListLineFacts& facts, const char* field, std::size_t n, std::int64_t date) {
  if (n < 5 || field[2] != ':' || !isDigit(field[0]) || !isDigit(field[1]) || !isDigit(field[3]) ||
      !isDigit(field[4])) {
    return false;
  }
  facts.timeKind = kTimeRemoteMinute;
  facts.time = date + clockSeconds(static_cast<std::int64_t>(parseDigits(field, 2)),
                                   static_cast<std::int64_t>(parseDigits(field + 3, 2)));
  if (n == 5) return true;
  if (n < 8 || field[5] != ':' || !isDigit(field[6]) || !isDigit(field[7])) return false;
  if (n > 8 && field[8] != '.') return false;
  facts.timeKind = kTimeRemoteSecond;
  facts.time += static_cast<std::int64_t>(parseDigits(field + 6, 2));
  return true;
}

int parseUnix(ListLineFacts& facts, const char* line, std::size_t length) {
  if (line[0] == 'd') facts.mayEnter = 1;
  if (line[0] == '-') facts.mayRetrieve = 1;
  if (line[0] == 'l') facts.mayEnter = facts.mayRetrieve = 1;

  int state = 1;
  std::size_t i = 0;
  std::uint64_t size = 0;
  std::int64_t year = 0;
  std::int64_t month = 0;
  std::int64_t day = 0;
  // A field ends at a space that follows a non-space, so the last word of a line never ends.
  for (std::size_t j = 1; j < length; ++j) {
    if (line[j] != ' ' || line[j - 1] == ' ') continue;
    const char* field = line + i;
    const std::size_t n = j - i;
    switch (state) {
      case 1:  // permissions
        state = 2;
        break;
      case 2:  // link count; six bytes starting with 'f' stand for a missing owner column
        state = (n == 6 && field[0] == 'f') ? 4 : 3;
        break;
      case 3:  // owner
        state = 4;
        break;
      case 4:  // tentative size
        size = parseDigits(field, n);
        state = 5;
        break;
      case 5:  // the month, or else one more tentative size (a group column)
        if (int index = monthIndex(field, n); index >= 0) {
          month = index;
          state = 6;
        } else if (index = cjkMonthIndex(field, n); index >= 0) {
          month = index;
          state = 6;
        } else if (isoDate(field, n, year, month, day)) {
          state = 9;
        } else {
          size = parseDigits(field, n);
        }
        break;
      case 6:
        day = calendarField(parseDigits(field, withoutSign(field, n, kDaySign)));
        state = 7;
        break;
      case 7:
        if (!unixTime(facts, field, n, month, day)) return 0;
        facts.name = line + j + 1;
        facts.nameLength = length - j - 1;
        state = 8;
        break;
      case 9:  // the time after an ISO date
        if (!isoTime(facts, field, n, civilToSeconds(year, month, day))) return 0;
        facts.name = line + j + 1;
        facts.nameLength = length - j - 1;
        state = 10;
        break;
      case 10:  // a zone after the time, as `ls --full-time` writes it; else the name goes on
        if (std::int64_t offset = 0; zoneOffset(field, n, offset)) {
          facts.time -= offset;
          facts.name = line + j + 1;
          facts.nameLength = length - j - 1;
        }
        state = 8;
        break;
      default:  // spaces inside the name
        break;
    }
    i = j + 1;
    while (i < length && line[i] == ' ') ++i;
  }
  if (state != 8 && state != 10) return 0;
  facts.sizeKind = 1;
  facts.size = size;

  if (line[0] == 'l') {
    for (std::size_t p = 0; p + 3 < facts.nameLength; ++p) {
      const char* at = facts.name + p;
      if (at[0] == ' ' && at[1] == '-' && at[2] == '>' && at[3] == ' ') {
        facts.nameLength = p;
        break;
      }
    }
  }
  // NetPresenz pads names with three spaces after the time field.
  if ((line[1] == ' ' || line[1] == '[') && facts.nameLength > 3 && facts.name[0] == ' ' &&
      facts.name[1] == ' ' && facts.name[2] == ' ') {
    facts.name += 3;
    facts.nameLength -= 3;
  }
  return 1;
}

int parseVms(ListLineFacts& facts, const char* line, std::size_t length, std::size_t semicolon) {
  facts.name = line;
  facts.nameLength = semicolon;
  // Servers that list names in lower case write the folder suffix so too.
  const bool lowerCase =
      std::none_of(line, line + semicolon, [](char b) { return b >= 'A' && b <= 'Z'; });
  const char* suffix = lowerCase ? ".dir" : ".DIR";
  if (semicolon > 4 && std::equal(suffix, suffix + 4, line + semicolon - 4)) {
    facts.nameLength -= 4;
    facts.mayEnter = 1;
  }
  if (!facts.mayEnter) facts.mayRetrieve = 1;

  Cursor c(line, length, semicolon);
  if (!c.skipTo(' ') || !c.skipRun(' ') || !c.skipWhile([](char b) { return b != ' '; }) ||
      !c.skipRun(' ')) {
    return 0;
  }
  std::size_t i = c.at();
  if (!c.skipTo('-')) return 0;
  const std::int64_t day = calendarField(c.digitsFrom(i));
  if (!c.skipRun('-')) return 0;
  i = c.at();
  if (!c.skipTo('-')) return 0;
  const int month = monthIndex(c.from(i), c.at() - i);
  if (month < 0) return 0;
  if (!c.skipRun('-')) return 0;
  i = c.at();
  if (!c.skipTo(' ')) return 0;
  const std::int64_t year = calendarField(c.digitsFrom(i));
  if (!c.skipRun(' ')) return 0;
  i = c.at();
  if (!c.skipTo(':')) return 0;
  const std::int64_t hour = calendarField(c.digitsFrom(i));
  if (!c.skipRun(':')) return 0;
  i = c.at();
  if (!c.skipWhile([](char b) { return b != ':' && b != ' '; })) return 0;
  const std::int64_t minute = calendarField(c.digitsFrom(i));

  facts.timeKind = kTimeRemoteMinute;
  facts.time = civilToSeconds(year, month, day) + clockSeconds(hour, minute);
  return 1;
}

// What follows the minutes of an MS-DOS line: "PM" (also "P", "AM", "A") right after them or
// after blanks, or nothing (a 24-hour clock). Adjusts `hour` to the 24-hour clock.
bool clockMarker(Cursor& c, std::int64_t& hour) {
  const std::size_t minutesEnd = c.at();
  if (c.byte() == ' ') {
    if (!c.skipRun(' ')) return false;
    // After blanks only a whole "AM" or "PM" word is a marker; else a size or "<DIR>" follows.
    const bool marker = (c.byte() == 'A' || c.byte() == 'P') && c.step() && c.byte() == 'M' &&
                        c.step() && c.byte() == ' ';
    if (!marker) {
      c = Cursor(c.from(0), c.length(), minutesEnd);
      return true;
    }
    c = Cursor(c.from(0), c.length(), c.at() - 2);
  } else if (c.byte() != 'A' && c.byte() != 'P') {
    return false;
  }
  if (hour == 12) hour = 0;
  if (c.byte() == 'A' && !c.step()) return false;
  if (c.byte() == 'P') {
    hour += 12;
    if (!c.step()) return false;
  }
  if (c.byte() == 'M' && !c.step()) return false;
  return true;
}

int parseMsDos(ListLineFacts& facts, const char* line, std::size_t length) {
  Cursor c(line, length);
  if (!c.skipTo('-')) return 0;
  // Month 00 becomes -1, which counts back into December of the year before.
  const std::int64_t month = calendarField(c.digitsFrom(0)) - 1;
  if (!c.skipRun('-')) return 0;
  std::size_t i = c.at();
  if (!c.skipTo('-')) return 0;
  const std::int64_t day = calendarField(c.digitsFrom(i));
  if (!c.skipRun('-')) return 0;
  i = c.at();
  if (!c.skipTo(' ')) return 0;
  std::int64_t year = calendarField(c.digitsFrom(i));
  if (year < 50) year += 2000;
  if (year < 1000) year += 1900;
  if (!c.skipRun(' ')) return 0;
  i = c.at();
  if (!c.skipTo(':')) return 0;
  std::int64_t hour = calendarField(c.digitsFrom(i));
  if (!c.skipRun(':')) return 0;
  i = c.at();
  // The minutes end at their last digit: an "A" or "P" further on may belong to the name.
  if (!c.skipWhile(isDigit)) return 0;
  const std::int64_t minute = calendarField(c.digitsFrom(i));
  if (c.byte() == ':' && (!c.step() || !c.skipWhile(isDigit))) return 0;  // seconds, dropped
  if (!clockMarker(c, hour)) return 0;
  if (!c.skipRun(' ')) return 0;
  if (c.byte() == '<') {
    facts.mayEnter = 1;
    if (!c.skipTo(' ')) return 0;
  } else {
    i = c.at();
    if (!c.skipTo(' ')) return 0;
    facts.size = c.digitsFrom(i);
    facts.sizeKind = 1;
    facts.mayRetrieve = 1;
  }
  if (!c.skipRun(' ')) return 0;

  facts.name = line + c.at();
  facts.nameLength = length - c.at();
  facts.timeKind = kTimeRemoteMinute;
  facts.time = civilToSeconds(year, month, day) + clockSeconds(hour, minute);
  return 1;
}

}  // namespace

std::int64_t civilToSeconds(std::int64_t year, std::int64_t month, std::int64_t day) {
  year += floorDiv(month, 12);
  month -= floorDiv(month, 12) * 12;
  return (daysFromCivil(year, month + 1) + day - 1) * kSecondsPerDay;
}

void setListClock(UnixSecondsSource source) {
  clockSource.store(source);
  rememberedYear.store(kNoYearYet);
}

int parseListLine(ListLineFacts& facts, const char* line, std::size_t length) {
  facts = ListLineFacts{};
  if (line == nullptr || length < 2) return 0;
  if (line[0] == '+') return parseEplf(facts, line, length);
  if (isUnixType(line[0])) {
    if (parseUnix(facts, line, length)) return 1;
    // A VMS name in lower case may start with a UNIX type letter.
    const char* semicolon = static_cast<const char*>(std::memchr(line, ';', length));
    if (semicolon == nullptr) return 0;
    facts = ListLineFacts{};
    return parseVms(facts, line, length, static_cast<std::size_t>(semicolon - line));
  }
  if (line[0] == ' ') {
    // Some servers indent their UNIX lines.
    std::size_t start = 0;
    while (start < length && line[start] == ' ') ++start;
    if (length - start >= 2 && isUnixType(line[start]) &&
        parseUnix(facts, line + start, length - start)) {
      return 1;
    }
    facts = ListLineFacts{};
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (line[i] == ';') return parseVms(facts, line, length, i);
  }
  if (line[0] >= '0' && line[0] <= '9') return parseMsDos(facts, line, length);
  return 0;
}

bool isVmsNameAlone(const char* line, std::size_t length) {
  const char* semicolon = static_cast<const char*>(std::memchr(line, ';', length));
  if (semicolon == nullptr || semicolon == line) return false;
  const char* end = line + length;
  return semicolon + 1 < end && std::all_of(semicolon + 1, end, isDigit) &&
         std::find(line, semicolon, ' ') == semicolon;
}

bool vmsVersionOf(const char* line, std::size_t length, std::uint64_t& version) {
  const char* semicolon = static_cast<const char*>(std::memchr(line, ';', length));
  if (semicolon == nullptr || semicolon == line || std::find(line, semicolon, ' ') != semicolon) {
    return false;
  }
  const char* end = line + length;
  const char* digits = semicolon + 1;
  const char* after = std::find_if_not(digits, end, isDigit);
  if (after == digits || after - digits > 19 || (after != end && *after != ' ')) return false;
  version = parseDigits(digits, static_cast<std::size_t>(after - digits));
  return true;
}

}  // namespace kestrelkit::net::ftp
