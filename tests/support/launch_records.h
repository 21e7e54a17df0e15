#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace muvra::testing {

// The records that muvra-test-child children wrote into `folder`, once `count` of them are there
// (or after 20 seconds: a detached child leaves no handle to wait on).
std::vector<std::string> awaitLaunchRecords(const std::filesystem::path& folder, std::size_t count);

}  // namespace muvra::testing
