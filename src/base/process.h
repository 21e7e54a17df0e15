#pragma once

#include <cstdint>
#include <filesystem>

namespace muvra {

// Full path of the running executable. Throws OperationFailure when the system cannot tell it.
std::filesystem::path modulePath();

// Milliseconds since an arbitrary fixed point (system start-up on Windows), never going back.
std::uint64_t tickMilliseconds();

std::uint32_t processId();

}  // namespace muvra
