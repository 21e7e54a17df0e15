#include "update/executable_check.h"

#include <array>
#include <cstdint>
#include <fstream>

namespace muvra {
namespace {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kPeHeaderBlockSize = 264;
constexpr std::int32_t kMinimumPeOffset = 64;
constexpr std::int32_t kMaximumPeOffset = 0x100000;

std::uint32_t readLittleEndian(const std::uint8_t* bytes, std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

template <std::size_t N>
bool readExactly(std::istream& stream, std::array<std::uint8_t, N>& buffer) {
  stream.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(N));
  return stream.gcount() == static_cast<std::streamsize>(N);
}

}  // namespace

bool isWindowsExecutable(std::istream& stream) {
  try {
    std::array<std::uint8_t, kDosHeaderSize> dos{};
    if (!readExactly(stream, dos) || readLittleEndian(&dos[0], 2) != 0x5A4D) {
      return false;
    }
    const auto peOffset = static_cast<std::int32_t>(readLittleEndian(&dos[60], 4));
    if (peOffset < kMinimumPeOffset || peOffset > kMaximumPeOffset) {
      return false;
    }
    stream.clear();
    if (!stream.seekg(peOffset, std::ios::beg)) {
      return false;
    }
    std::array<std::uint8_t, kPeHeaderBlockSize> pe{};
    if (!readExactly(stream, pe)) {
      return false;
    }
    const std::uint32_t characteristics = readLittleEndian(&pe[22], 2);
    return readLittleEndian(&pe[0], 4) == 0x00004550 && readLittleEndian(&pe[4], 2) == 0x8664 &&
           (characteristics & 0x0002) != 0 && (characteristics & 0x2000) == 0 &&
           readLittleEndian(&pe[24], 2) == 0x20B;
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
