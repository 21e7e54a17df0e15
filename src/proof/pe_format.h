#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <span>

// Reading a Windows program's headers: what the executable check and the signature walk share.
namespace muvra::pe {

std::uint32_t littleEndian(const std::uint8_t* bytes, std::size_t width);

// Reads `into.size()` bytes at `offset`; false when the file has fewer there.
bool readAt(std::istream& file, std::uint64_t offset, std::span<std::uint8_t> into);

// Where the PE header is, as the DOS header names it: empty when the file does not start with a
// DOS header, or names an offset outside 64 bytes to 1 MiB.
std::optional<std::uint64_t> headerOffset(std::istream& file);

}  // namespace muvra::pe
