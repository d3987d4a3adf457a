#include "kestrelkit/net/ftp/FtpDataAddress.h"

#include <array>

namespace kestrelkit::net::ftp {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

/// A decimal number of at most `digits` digits at `text[at]`, moving `at` past it.
std::optional<unsigned> number(std::string_view text, std::size_t& at, std::size_t digits) {
  std::size_t end = at;
  unsigned value = 0;
  while (end < text.size() && isDigit(text[end]) && end - at < digits) {
    value = value * 10 + static_cast<unsigned>(text[end] - '0');
    ++end;
  }
  if (end == at || (end < text.size() && isDigit(text[end]))) return std::nullopt;
  at = end;
  return value;
}

/// Six byte-sized numbers separated by commas, starting at `at`.
std::optional<std::array<unsigned, 6>> sixNumbers(std::string_view text, std::size_t at) {
  std::array<unsigned, 6> values{};
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) {
      if (at >= text.size() || text[at] != ',') return std::nullopt;
      ++at;
    }
    const auto value = number(text, at, 3);
    if (!value || *value > 255) return std::nullopt;
    values[i] = *value;
  }
  return values;
}

}  // namespace

std::optional<std::uint16_t> passivePort(std::string_view reply) {
  // The code itself is digits too: the numbers are looked for after it.
  for (std::size_t at = reply.size() > 3 ? 3 : reply.size(); at < reply.size(); ++at) {
    if (!isDigit(reply[at]) || (at > 0 && isDigit(reply[at - 1]))) continue;
    const auto values = sixNumbers(reply, at);
    if (!values) continue;
    const unsigned port = (*values)[4] * 256 + (*values)[5];
    if (port == 0) return std::nullopt;
    return static_cast<std::uint16_t>(port);
  }
  return std::nullopt;
}

std::optional<std::uint16_t> extendedPassivePort(std::string_view reply) {
  std::size_t at = reply.find('(');
  if (at == std::string_view::npos || at + 4 >= reply.size()) return std::nullopt;
  const char delimiter = reply[at + 1];
  if (delimiter < 33 || delimiter > 126 || isDigit(delimiter)) return std::nullopt;
  if (reply[at + 2] != delimiter || reply[at + 3] != delimiter) return std::nullopt;
  at += 4;
  const auto port = number(reply, at, 5);
  if (!port || *port == 0 || *port > 65535) return std::nullopt;
  if (at + 1 >= reply.size() || reply[at] != delimiter || reply[at + 1] != ')') return std::nullopt;
  return static_cast<std::uint16_t>(*port);
}

std::string portArgument(const platform::NetAddress& address) {
  const auto& b = address.bytes;
  return std::to_string(b[0]) + "," + std::to_string(b[1]) + "," + std::to_string(b[2]) + "," +
         std::to_string(b[3]) + "," + std::to_string(address.port / 256) + "," +
         std::to_string(address.port % 256);
}

std::string extendedPortArgument(const platform::NetAddress& address) {
  return std::string("|") + (address.family == 6 ? "2" : "1") + "|" + address.text() + "|" +
         std::to_string(address.port) + "|";
}

}  // namespace kestrelkit::net::ftp
