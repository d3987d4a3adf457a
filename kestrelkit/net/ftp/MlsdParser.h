#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrelkit::net::ftp {

/// Values of MlsdLineFacts::type.
inline constexpr int kMlsdNoType = 0;         // no "type" fact: not a file
inline constexpr int kMlsdFile = 1;           // "file"
inline constexpr int kMlsdFolder = 2;         // "dir"
inline constexpr int kMlsdCurrentFolder = 3;  // "cdir"
inline constexpr int kMlsdParentFolder = 4;   // "pdir"
inline constexpr int kMlsdOther = 5;          // any other type, "OS.unix=slink:..." among them

/// What one line of an MLSD reply says about its entry (RFC 3659: facts, each "name=value;",
/// one blank, then the name). The name points into the parsed line and lives as long as it.
struct MlsdLineFacts {
  const char* name = nullptr;
  std::size_t nameLength = 0;
  int type = kMlsdNoType;
  bool hasSize = false;
  std::uint64_t size = 0;
  bool hasTime = false;
  std::int64_t time = 0;  // the "modify" fact: seconds since 1970, UTC (a fraction is dropped)
};

/// Reads one MLSD line (without its line end). Returns 1 and fills `facts` when the line keeps
/// the grammar: facts with a name and "=" each, every one closed by ";", then one blank and a
/// name of at least one byte, which may hold any bytes, blanks and ";" among them. Returns 0
/// otherwise. Fact names are compared without regard to case; a "size" of anything but 1 to 20
/// digits, or a "modify" not of the form YYYYMMDDHHMMSS[.fraction] with a valid date and time,
/// is left out as unknown. Nothing is read outside [line, line+length).
int parseMlsdLine(MlsdLineFacts& facts, const char* line, std::size_t length);

}  // namespace kestrelkit::net::ftp
