#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace muvra {

// "0x" and eight upper-case hexadecimal digits.
std::string formatStatusCode(std::uint32_t code);

// The cleaned file stem of the executable, "-", and a case-folded FNV-1a hash of its path.
std::string profileKey(const std::filesystem::path& executable);

// root/K/Default for attempt 0, root/K/Recovery-<pid>-<tick> otherwise.
std::filesystem::path profileFolderFor(const std::filesystem::path& root,
                                       const std::filesystem::path& executable,
                                       unsigned attempt);

}  // namespace muvra
