#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Socket.h"

// The texts that name a data connection's address: the server's "227" and "229" replies and the
// client's PORT and EPRT arguments.
namespace kestrelkit::net::ftp {

/// The port of a "227" reply: the first six comma-separated numbers (h1,h2,h3,h4,p1,p2, each 0
/// to 255) in its text, in parentheses or not. The address they name is not returned: data
/// connections go to the control connection's peer, so a server cannot steer them elsewhere.
/// Nothing when there are no such six numbers or the port is 0.
std::optional<std::uint16_t> passivePort(std::string_view reply);

/// The port of a "229" reply: "(" then the same delimiter three times, the port, the delimiter
/// and ")" (RFC 2428), e.g. "(|||6446|)". Nothing when malformed or 0.
std::optional<std::uint16_t> extendedPassivePort(std::string_view reply);

/// The argument of PORT for an IPv4 `address`: "h1,h2,h3,h4,p1,p2".
std::string portArgument(const platform::NetAddress& address);

/// The argument of EPRT: "|1|127.0.0.1|6446|" or "|2|::1|6446|".
std::string extendedPortArgument(const platform::NetAddress& address);

}  // namespace kestrelkit::net::ftp
