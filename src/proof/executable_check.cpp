#include "proof/executable_check.h"

#include <array>
#include <cstdint>
#include <fstream>

#include "proof/pe_format.h"

namespace muvra {

bool isWindowsExecutable(std::istream& stream) {
  try {
    const std::optional<std::uint64_t> offset = pe::headerOffset(stream);
    std::array<std::uint8_t, 264> header{};
    if (!offset || !pe::readAt(stream, *offset, header)) {
      return false;
    }
    const std::uint32_t characteristics = pe::littleEndian(&header[22], 2);
    return pe::littleEndian(&header[0], 4) == 0x00004550 &&
           pe::littleEndian(&header[4], 2) == 0x8664 && (characteristics & 0x0002) != 0 &&
           (characteristics & 0x2000) == 0 && pe::littleEndian(&header[24], 2) == 0x20B;
  } catch (...) {
    return false;
  }
}

bool isWindowsExecutable(const std::filesystem::path& path) {
  try {
    std::ifstream file(path, std::ios::binary);
    return file.is_open() && isWindowsExecutable(file);
  } catch (...) {
    return false;
  }
}

}  // namespace muvra
