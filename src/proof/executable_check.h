#pragma once

#include <filesystem>
#include <istream>

namespace muvra {

// True when the headers are those of a 64-bit x64 Windows program that is not a library.
// Never throws: a file that cannot be opened or read is not an executable.
bool isWindowsExecutable(const std::filesystem::path& path);
bool isWindowsExecutable(std::istream& stream);

}  // namespace muvra
