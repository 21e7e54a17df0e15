#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace muvra {

inline constexpr std::size_t kHashReadBlock = 65536;

// SHA-256 of the whole file as 64 lower-case hexadecimal digits. Throws OperationFailure.
std::string sha256File(const std::filesystem::path& path);

std::string hexDigest(const std::array<std::uint8_t, 32>& digest);

}  // namespace muvra
