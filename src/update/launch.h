#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace muvra {

// Starts the managed application with `--config "<settings>"` in the working folder and returns at
// once, without waiting for it or watching it. Throws OperationFailure("Could not launch Muvra.").
void launchApplication(const std::filesystem::path& executable,
                       const std::filesystem::path& settings,
                       const std::filesystem::path& workingFolder);

// The Windows command line: each path in double quotes, put in as it is.
std::string launchCommandLine(const std::filesystem::path& executable,
                              const std::filesystem::path& settings);

// The argument vector where a Windows program must be started through Wine: the wine program
// first when one is given.
std::vector<std::string> launchArguments(const std::filesystem::path& executable,
                                         const std::filesystem::path& settings,
                                         const std::optional<std::filesystem::path>& wine);

// The first executable file called `name` in a PATH-style list of folders, where a relative
// folder lies in `startFolder`, the folder the program will start in.
std::optional<std::filesystem::path> findProgramOnPath(std::string_view name,
                                                       std::string_view searchPath,
                                                       const std::filesystem::path& startFolder);

}  // namespace muvra
