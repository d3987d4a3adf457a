#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrelkit::net::ftp {

/// What one listing line says about its entry. Text values point into the parsed line; they are
/// slices, not copies, and live only as long as the line.
///
/// Sizes and times are carried in 64 bits, so sizes of 2 GiB and more and dates after 2038 come
/// out right.
struct ListLineFacts {
  const char* name = nullptr;
  std::size_t nameLength = 0;
  int mayEnter = 0;     // changing into the entry may work (folder or link)
  int mayRetrieve = 0;  // retrieving the entry may work (file or link)
  int sizeKind = 0;     // 0 unknown, 1 a count of octets
  std::uint64_t size = 0;
  int timeKind = 0;       // see the ListTimeKind constants
  std::int64_t time = 0;  // seconds since 1970; for kinds 2 and 3 the listed wall clock as UTC
  int idKind = 0;         // 1 when an EPLF identifier is present
  const char* id = nullptr;
  std::size_t idLength = 0;
};

/// Values of ListLineFacts::timeKind.
inline constexpr int kTimeUnknown = 0;
inline constexpr int kTimeExact = 1;         // given by the server as seconds since 1970
inline constexpr int kTimeRemoteMinute = 2;  // to the minute, zone unknown
inline constexpr int kTimeRemoteDay = 3;     // day only, zone and time of day unknown
inline constexpr int kTimeRemoteSecond = 4;  // to the second; UTC when the line gave a zone

/// Recognises one line of a LIST reply (without its line end) in UNIX long-listing style,
/// MS-DOS style, VMS style or EPLF. Returns 1 and fills `facts` when the line was recognised;
/// returns 0 when it was rejected (then `facts` holds whatever the parse reached and means
/// nothing). Any byte sequence is accepted as input; nothing is read outside [line, line+length).
///
/// Numeric fields are accumulated as value * 10 + (byte - '0') in unsigned 64-bit arithmetic that
/// wraps modulo 2^64, so a field of non-digits or of more than 19 digits gives a meaningless
/// number, never undefined behaviour. Calendar fields are clamped to [0, 999,999,999] before any
/// date arithmetic, which keeps every computed time far inside the 64-bit range.
int parseListLine(ListLineFacts& facts, const char* line, std::size_t length);

/// True for the first line of a VMS entry that takes two lines: a name with its version and
/// nothing else ("A_LONG_NAME.TXT;1"). The line after it, which starts with blanks, holds the
/// rest of the entry.
bool isVmsNameAlone(const char* line, std::size_t length);

/// The version of a VMS entry line ("NAME.TXT;4 ..." gives 4); false for a line of any other
/// form.
bool vmsVersionOf(const char* line, std::size_t length, std::uint64_t& version);

/// Seconds since 1970 (UTC) as the year guess of listing dates without a year reads them.
using UnixSecondsSource = std::int64_t (*)();

/// Replaces the clock the year guess reads (nullptr: the system clock again) and forgets the
/// current year worked out so far, so that the next guess computes it from the new clock. The
/// program never calls this: there the current year is computed once per process, at the first
/// guess, and kept.
void setListClock(UnixSecondsSource source);

/// Seconds from 1970-01-01 to the given date of the proleptic Gregorian calendar (month 0 is
/// January). Days past the end of a month count on into the next month, months past December
/// into the next year (and months below 0 back into the previous one).
std::int64_t civilToSeconds(std::int64_t year, std::int64_t month, std::int64_t day);

}  // namespace kestrelkit::net::ftp
