#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <span>
#include <vector>

// Reading a Windows program's headers: what the executable check and the signature walk share.
namespace muvra::pe {

std::uint32_t littleEndian(const std::uint8_t* bytes, std::size_t width);

// Reads `into.size()` bytes at `offset`; false when the file has fewer there.
bool readAt(std::istream& file, std::uint64_t offset, std::span<std::uint8_t> into);

// Where the PE header is, as the DOS header names it: empty when the file does not start with a
// DOS header, or names an offset outside 64 bytes to 1 MiB.
std::optional<std::uint64_t> headerOffset(std::istream& file);

// More sections than a program has; a table that claims more is refused.
inline constexpr std::uint32_t kMostSections = 96;

// A section's place in memory (relative to the image base) and in the file.
struct Section {
  std::uint32_t virtualAddress = 0;
  std::uint32_t virtualSize = 0;
  std::uint32_t fileOffset = 0;
  std::uint32_t fileSize = 0;
};

// The `count` entries of the section table at `offset`; empty when they cannot be read or are
// more than kMostSections.
std::optional<std::vector<Section>> readSections(std::istream& file,
                                                 std::uint64_t offset,
                                                 std::uint32_t count);

}  // namespace muvra::pe
