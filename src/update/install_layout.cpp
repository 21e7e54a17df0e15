#include "update/install_layout.h"

#include "base/path_text.h"
#include "base/process.h"
#include "base/configuration.h"

namespace muvra {

std::filesystem::path settingsPathFor(const std::filesystem::path& loaderFolder) {
  return loaderFolder / "settings.ini";
}

InstallLayout layoutBeside(const std::filesystem::path& launcherExecutable) {
  InstallLayout layout;
  layout.loaderFolder = launcherExecutable.parent_path();
  layout.executablePath = layout.loaderFolder / "app" / pathFromUtf8(config::AssetName);
  layout.settingsPath = settingsPathFor(layout.loaderFolder);
  return layout;
}

InstallLayout locateInstallation() {
  return layoutBeside(modulePath());
}

}  // namespace muvra
