#include "update/install_layout.h"

#include <gtest/gtest.h>

#include "base/process.h"

namespace muvra {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
const fs::path kLauncher = L"C:\\Tools\\loader.exe";
const fs::path kFolder = L"C:\\Tools";
const fs::path kRootLauncher = L"C:\\loader.exe";
const fs::path kRoot = L"C:\\";
#else
const fs::path kLauncher = "/opt/Tools/loader";
const fs::path kFolder = "/opt/Tools";
const fs::path kRootLauncher = "/loader";
const fs::path kRoot = "/";
#endif

TEST(InstallLayoutTest, PlacesTheApplicationAndSettingsBesideTheLauncher) {
  const InstallLayout layout = layoutBeside(kLauncher);
  EXPECT_EQ(layout.loaderFolder, kFolder);
  EXPECT_EQ(layout.executablePath, kFolder / "app" / "muvra.exe");
  EXPECT_EQ(layout.settingsPath, kFolder / "settings.ini");
}

TEST(InstallLayoutTest, KeepsTheRootOfADrive) {
  const InstallLayout layout = layoutBeside(kRootLauncher);
  EXPECT_EQ(layout.loaderFolder, kRoot);
  EXPECT_EQ(layout.executablePath, kRoot / "app" / "muvra.exe");
}

TEST(InstallLayoutTest, LocatesTheRunningExecutable) {
  const InstallLayout layout = locateInstallation();
  EXPECT_EQ(layout.loaderFolder, modulePath().parent_path());
  EXPECT_TRUE(fs::is_directory(layout.loaderFolder));
}

}  // namespace
}  // namespace muvra
