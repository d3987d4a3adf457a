// libFuzzer target: response-file bytes behind each byte-order mark in turn (the first byte
// chooses it), decoded, split into one token per line and parsed with the request's
// declarations; then every argument found is read back.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "marlowick/ResponseFile.h"
#include "util/Arguments.h"
#include "util/Text.h"

namespace {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool isUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80   ? 1
                         : lead < 0xC2 ? 0
                         : lead < 0xE0 ? 2
                         : lead < 0xF0 ? 3
                         : lead < 0xF5 ? 4
                                       : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < least[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string_view kMarks[] = {
      {"", 0},         {"\xEF\xBB\xBF", 3}, {"\xFF\xFE", 2},
      {"\xFE\xFF", 2}, {"\xFF\xFE\0\0", 4}, {"\0\0\xFE\xFF", 4},
  };
  if (size < 1) return 0;
  std::string bytes(kMarks[data[0] % 6]);
  bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);

  std::string text;
  try {
    text = marlowick::decodeResponseFile(bytes);
  } catch (const std::runtime_error&) {
    __builtin_trap();  // every one of these character sets is known to the system
  }
  if (!isUtf8(text)) __builtin_trap();

  const auto tokens = marlowick::responseFileTokens(util::trimmed(text));
  for (const std::string& token : tokens) {
    if (token.empty() || token.find('\n') != std::string::npos) __builtin_trap();
  }
  util::Arguments arguments;
  arguments.declare("justPrint").anyNumberOfValues().addAlias({"justprint", "JUSTPRINT", "test"});
  arguments.declare("lsize").anyNumberOfValues().addAlias("1size");
  arguments.declare("lmodified").anyNumberOfValues().addAlias("1modified");
  arguments.parse(tokens);
  for (const std::string& name : arguments.names()) {
    if (!arguments.isPresent(name)) __builtin_trap();
    const auto& values = arguments.values(name);
    if (arguments.firstValue(name) != (values.empty() ? std::string() : values.front())) {
      __builtin_trap();
    }
  }
  return 0;
}
