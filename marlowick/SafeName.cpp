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
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += fmt::format("\\x{:02X}", byte);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace marlowick
