#pragma once

#include <cstddef>
#include <random>
#include <string>

namespace testing_support {

/// `size` bytes that look like binary data (CR, LF and NUL among them), the same for a seed.
inline std::string randomBytes(std::size_t size, unsigned seed = 7) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

}  // namespace testing_support
