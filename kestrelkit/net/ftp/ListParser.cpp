#include "kestrelkit/net/ftp/ListParser.h"

#include <algorithm>
#include <atomic>
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

int parseUnix(ListLineFacts& facts, const char* line, std::size_t length) {
  if (line[0] == 'd') facts.mayEnter = 1;
  if (line[0] == '-') facts.mayRetrieve = 1;
  if (line[0] == 'l') facts.mayEnter = facts.mayRetrieve = 1;

  int state = 1;
  std::size_t i = 0;
  std::uint64_t size = 0;
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
        } else {
          size = parseDigits(field, n);
        }
        break;
      case 6:
        day = calendarField(parseDigits(field, n));
        state = 7;
        break;
      case 7:
        if (!unixTime(facts, field, n, month, day)) return 0;
        facts.name = line + j + 1;
        facts.nameLength = length - j - 1;
        state = 8;
        break;
      default:  // spaces inside the name
        break;
    }
    i = j + 1;
    while (i < length && line[i] == ' ') ++i;
  }
  if (state != 8) return 0;
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
  if (semicolon > 4 && line[semicolon - 4] == '.' && line[semicolon - 3] == 'D' &&
      line[semicolon - 2] == 'I' && line[semicolon - 1] == 'R') {
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
  if (!c.skipWhile([](char b) { return b != 'A' && b != 'P'; })) return 0;
  const std::int64_t minute = calendarField(c.digitsFrom(i));
  if (hour == 12) hour = 0;
  if (c.byte() == 'A' && !c.step()) return 0;
  if (c.byte() == 'P') {
    hour += 12;
    if (!c.step()) return 0;
  }
  if (c.byte() == 'M' && !c.step()) return 0;
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
  switch (line[0]) {
    case '+':
      return parseEplf(facts, line, length);
    case 'b':
    case 'c':
    case 'd':
    case 'l':
    case 'p':
    case 's':
    case '-':
      return parseUnix(facts, line, length);
    default:
      break;
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (line[i] == ';') return parseVms(facts, line, length, i);
  }
  if (line[0] >= '0' && line[0] <= '9') return parseMsDos(facts, line, length);
  return 0;
}

}  // namespace kestrelkit::net::ftp
