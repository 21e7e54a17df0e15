#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace muvra {

inline constexpr std::size_t kHashReadBlock = 65536;

// SHA-256 of the whole file as 64 lower-case hexadecimal digits. Throws OperationFailure.
std::string sha256File(const std::filesystem::path& path);

std::string hexDigest(std::span<const std::uint8_t> digest);

}  // namespace muvra
