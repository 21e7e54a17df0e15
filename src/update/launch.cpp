#include "update/launch.h"

#include <system_error>

#include "base/path_text.h"

namespace muvra {

std::string launchCommandLine(const std::filesystem::path& executable,
                              const std::filesystem::path& settings) {
  std::string line = "\"";
  line.append(pathToUtf8(executable)).append("\" --config \"");
  line.append(pathToUtf8(settings)).append("\"");
  return line;
}

std::vector<std::string> launchArguments(const std::filesystem::path& executable,
                                         const std::filesystem::path& settings,
                                         const std::optional<std::filesystem::path>& wine) {
  std::vector<std::string> arguments;
  if (wine) {
    arguments.push_back(pathToUtf8(*wine));
  }
  arguments.push_back(pathToUtf8(executable));
  arguments.push_back("--config");
  arguments.push_back(pathToUtf8(settings));
  return arguments;
}

std::optional<std::filesystem::path> findProgramOnPath(std::string_view name,
                                                       std::string_view searchPath,
                                                       const std::filesystem::path& startFolder) {
  while (true) {
    const std::size_t end = searchPath.find(':');
    const std::string_view folder = searchPath.substr(0, end);
    if (!folder.empty()) {
      const std::filesystem::path candidate =
          startFolder / pathFromUtf8(folder) / pathFromUtf8(name);
      std::error_code error;
      const auto status = std::filesystem::status(candidate, error);
      const auto executableBits = std::filesystem::perms::owner_exec |
                                  std::filesystem::perms::group_exec |
                                  std::filesystem::perms::others_exec;
      if (!error && std::filesystem::is_regular_file(status) &&
          (status.permissions() & executableBits) != std::filesystem::perms::none) {
        return candidate;
      }
    }
    if (end == std::string_view::npos) {
      return std::nullopt;
    }
    searchPath.remove_prefix(end + 1);
  }
}

}  // namespace muvra
