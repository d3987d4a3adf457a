// libFuzzer target: any byte sequence as a listing line, through the parser and the record
// conversion, under any system type and any clock.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/ListParser.h"

namespace {

using kestrelkit::net::ftp::FtpLib;

std::int64_t fuzzedNow = 0;
std::int64_t fuzzedClock() { return fuzzedNow; }

class FuzzFtpLib : public FtpLib {
 public:
  void setSystemType(std::string type) { systemType_ = std::move(type); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kSystemTypes[] = {"", "UNIX", "Windows_NT", "VMS"};
  if (size < 1 + sizeof fuzzedNow) return 0;
  static FuzzFtpLib connection;
  connection.setSystemType(kSystemTypes[data[0] % 4]);
  std::memcpy(&fuzzedNow, data + 1, sizeof fuzzedNow);
  kestrelkit::net::ftp::setListClock(fuzzedClock);
  data += 1 + sizeof fuzzedNow;
  size -= 1 + sizeof fuzzedNow;

  // An exact-size heap copy, so that any read past the line is caught.
  std::string line(reinterpret_cast<const char*>(data), size);
  kestrelkit::net::ftp::ListLineFacts facts;
  if (kestrelkit::net::ftp::parseListLine(facts, line.data(), line.size())) {
    const char* begin = line.data();
    const char* end = begin + line.size();
    if (facts.nameLength > 0 && (facts.name < begin || facts.name + facts.nameLength > end)) {
      __builtin_trap();
    }
    if (facts.idLength > 0 && (facts.id < begin || facts.id + facts.idLength > end)) {
      __builtin_trap();
    }
  }
  auto info = connection.toFileInfo(std::string_view(line));
  if (info.name.size() > line.size()) __builtin_trap();
  return 0;
}
