#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace muvra {

// The bytes of an embedded interface file by its resource id (RCDATA, English (United States),
// on Windows; linked into the binary elsewhere). Empty when the program carries no such file.
std::optional<std::span<const std::uint8_t>> embeddedResource(int id);

}  // namespace muvra
