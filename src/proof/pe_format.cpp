#include "proof/pe_format.h"

#include <array>

namespace muvra::pe {

std::uint32_t littleEndian(const std::uint8_t* bytes, std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

bool readAt(std::istream& file, std::uint64_t offset, std::span<std::uint8_t> into) {
  file.clear();
  if (!file.seekg(static_cast<std::streamoff>(offset), std::ios::beg)) {
    return false;
  }
  file.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
  return file.gcount() == static_cast<std::streamsize>(into.size());
}

std::optional<std::uint64_t> headerOffset(std::istream& file) {
  constexpr std::uint64_t kLeast = 64;
  constexpr std::uint64_t kMost = 0x100000;
  std::array<std::uint8_t, 64> dos{};
  if (!readAt(file, 0, dos) || littleEndian(&dos[0], 2) != 0x5A4D) {
    return std::nullopt;
  }
  const std::uint64_t offset = littleEndian(&dos[60], 4);
  if (offset < kLeast || offset > kMost) {
    return std::nullopt;
  }
  return offset;
}

std::optional<std::vector<Section>> readSections(std::istream& file,
                                                 std::uint64_t offset,
                                                 std::uint32_t count) {
  if (count > kMostSections) {
    return std::nullopt;
  }
  std::vector<Section> sections;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::array<std::uint8_t, 40> entry{};
    if (!readAt(file, offset + std::uint64_t{i} * 40, entry)) {
      return std::nullopt;
    }
    sections.push_back({littleEndian(&entry[12], 4), littleEndian(&entry[8], 4),
                        littleEndian(&entry[20], 4), littleEndian(&entry[16], 4)});
  }
  return sections;
}

}  // namespace muvra::pe
