#pragma once

#include <cstddef>
#include <string>

namespace muvra::testing {

// `size` bytes (at least 392) that carry the headers of a 64-bit Windows program, the rest
// filled with `fill`.
std::string windowsProgram(std::size_t size, char fill = 'p');

// SHA-256 of `bytes` in lower-case hexadecimal, computed apart from the code under test where
// the platform allows.
std::string sha256Hex(const std::string& bytes);

}  // namespace muvra::testing
