#include "marlowick/SafeName.h"

#include <fmt/format.h>

namespace marlowick {

bool isSafeRelativeName(std::string_view name) {
  if (name.empty() || name.find('\0') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (true) {
    std::size_t end = name.find_first_of("/\\", start);
    std::string_view component = name.substr(start, end - start);
    if (component.empty() || component == "..") return false;
    if (end == std::string_view::npos) return component != ".";
    start = end + 1;
  }
}

std::string visibleName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t at = 0; at < name.size(); ++at) {
    const auto byte = static_cast<unsigned char>(name[at]);
    // U+0080 to U+009F: the 8-bit controls (CSI among them), which some terminals obey in UTF-8.
    const bool eightBitControl = byte == 0xC2 && at + 1 < name.size() &&
                                 static_cast<unsigned char>(name[at + 1]) <= 0x9F &&
                                 static_cast<unsigned char>(name[at + 1]) >= 0x80;
    if (byte < 0x20 || byte == 0x7F) {
      out += fmt::format("\\x{:02X}", byte);
    } else if (eightBitControl) {
      out += fmt::format("\\xC2\\x{:02X}", static_cast<unsigned char>(name[++at]));
    } else {
      out += name[at];
    }
  }
  return out;
}

}  // namespace marlowick
