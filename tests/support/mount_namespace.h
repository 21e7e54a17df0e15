#pragma once

#include <filesystem>

namespace muvra::testing {

// Linux only, for folder faults that permissions cannot make for root: each call gives the test
// process (ctest runs one test per process) a private mount namespace on first use. They answer
// false where the process may not do so; the test then skips.
bool mountReadOnly(const std::filesystem::path& folder);
bool bindFileOver(const std::filesystem::path& source, const std::filesystem::path& target);
// Detaches every mount made above, newest first.
void undoMounts();

}  // namespace muvra::testing
