#include "support/windows_program.h"

#include <cstdint>

namespace muvra::testing {

namespace {

void put(std::string& bytes, std::size_t offset, std::uint32_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

}  // namespace

std::string windowsProgram(std::size_t size, char fill) {
  constexpr std::size_t kPeOffset = 128;
  std::string bytes(size, fill);
  bytes.replace(0, kPeOffset + 264, kPeOffset + 264, '\0');
  put(bytes, 0, 0x5A4D, 2);
  put(bytes, 60, kPeOffset, 4);
  put(bytes, kPeOffset, 0x00004550, 4);
  put(bytes, kPeOffset + 4, 0x8664, 2);
  put(bytes, kPeOffset + 22, 0x0022, 2);  // executable image, large-address aware
  put(bytes, kPeOffset + 24, 0x20B, 2);
  return bytes;
}

}  // namespace muvra::testing
