#pragma once

#include <filesystem>

namespace muvra {

struct InstallLayout {
  std::filesystem::path loaderFolder;
  std::filesystem::path executablePath;  // loader folder, "app", "muvra.exe"
  std::filesystem::path settingsPath;    // loader folder, "settings.ini"
};

// The layout beside the given launcher executable.
InstallLayout layoutBeside(const std::filesystem::path& launcherExecutable);

// The layout beside the running executable.
InstallLayout locateInstallation();

std::filesystem::path settingsPathFor(const std::filesystem::path& loaderFolder);

}  // namespace muvra
