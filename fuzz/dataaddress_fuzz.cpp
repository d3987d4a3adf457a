// libFuzzer target: any text as a "227" or "229" reply; and the PORT and EPRT arguments made
// from fuzzed addresses, which must read back as the port they name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "kestrelkit/net/ftp/FtpDataAddress.h"

using namespace kestrelkit::net::ftp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  if (const auto port = passivePort(text); port && *port == 0) std::abort();
  if (const auto port = extendedPassivePort(text); port && *port == 0) std::abort();
  if (size < 19) return 0;
  platform::NetAddress address;
  address.family = bytes[0] % 2 == 0 ? 4 : 6;
  std::memcpy(address.bytes.data(), bytes + 1, 16);
  address.port = static_cast<std::uint16_t>(bytes[17] << 8 | bytes[18]);
  if (address.port == 0) return 0;
  if (address.family == 4 && passivePort("227 Entering Passive Mode (" + portArgument(address) +
                                         ")") != address.port) {
    std::abort();
  }
  std::string extended = extendedPortArgument(address);
  // EPRT's argument names the address too; a 229 reply has the port alone between the bars.
  const std::string reply = "229 (|||" + std::to_string(address.port) + "|)";
  if (extendedPassivePort(reply) != address.port || extended.find('|') != 0) std::abort();
  return 0;
}
