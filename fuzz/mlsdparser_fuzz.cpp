// libFuzzer target: any byte sequence as an MLSD line, through the parser and the record
// conversion.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/MlsdParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size heap copy, so that any read past the line is caught.
  std::string line(reinterpret_cast<const char*>(data), size);
  kestrelkit::net::ftp::MlsdLineFacts facts;
  if (kestrelkit::net::ftp::parseMlsdLine(facts, line.data(), line.size())) {
    const char* begin = line.data();
    const char* end = begin + line.size();
    if (facts.nameLength == 0 || facts.name < begin || facts.name + facts.nameLength != end) {
      __builtin_trap();
    }
  }
  auto info = kestrelkit::net::ftp::FtpLib::toMlsdFileInfo(std::string_view(line));
  if (info.name.size() > line.size()) __builtin_trap();
  return 0;
}
