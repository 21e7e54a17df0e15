#include "update/launch.h"

#include <gtest/gtest.h>

#include "base/failure.h"
#include "base/path_text.h"
#include "base/process.h"
#include "support/launch_records.h"
#include "support/temporary_folder.h"

namespace muvra {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryFolder;

#ifdef _WIN32
const char* const kChildName = "muvra-test-child.exe";
#else
const char* const kChildName = "muvra-test-child";
#endif

TEST(LaunchCommandLineTest, QuotesBothPathsAsTheyAre) {
  EXPECT_EQ(launchCommandLine(pathFromUtf8("C:\\Tools\\app\\muvra.exe"),
                              pathFromUtf8("C:\\Tools\\settings.ini")),
            "\"C:\\Tools\\app\\muvra.exe\" --config \"C:\\Tools\\settings.ini\"");
}

TEST(LaunchArgumentsTest, PutsWineFirstWhenGiven) {
  const auto plain = launchArguments("/a b/muvra.exe", "/a b/settings.ini", std::nullopt);
  EXPECT_EQ(plain, (std::vector<std::string>{"/a b/muvra.exe", "--config", "/a b/settings.ini"}));
  const auto wine = launchArguments("/x/muvra.exe", "/x/settings.ini", fs::path("/usr/bin/wine"));
  EXPECT_EQ(wine, (std::vector<std::string>{"/usr/bin/wine", "/x/muvra.exe", "--config",
                                            "/x/settings.ini"}));
}

TEST(LaunchApplicationTest, StartsTheChildInTheWorkingFolderWithTwoArguments) {
  const TemporaryFolder folder;
  const fs::path loader = folder / "loader folder";
  fs::create_directories(loader / "app");
  const fs::path child = loader / "app" / kChildName;
  fs::copy_file(modulePath().parent_path() / kChildName, child);
  const fs::path settings = loader / "settings.ini";

  launchApplication(child, settings, loader);

  const std::vector<std::string> records = testing::awaitLaunchRecords(loader, 1);
  ASSERT_EQ(records.size(), 1u) << "the child never wrote its record";
  const std::string expected =
      pathToUtf8(fs::canonical(loader)) + "\n--config\n" + pathToUtf8(settings) + "\n";
  EXPECT_EQ(records[0], expected);
}

TEST(LaunchApplicationTest, MissingExecutableCannotBeLaunched) {
  const TemporaryFolder folder;
  try {
    launchApplication(folder / "app" / "muvra.exe", folder / "settings.ini", folder.path());
    FAIL() << "launched a missing file";
  } catch (const OperationFailure& failure) {
    EXPECT_STREQ(failure.what(), "Could not launch Muvra.");
  }
}

#ifndef _WIN32
TEST(FindProgramOnPathTest, TakesTheFirstExecutableFile) {
  const TemporaryFolder folder;
  fs::create_directories(folder / "one");
  fs::create_directories(folder / "two");
  testing::writeFile(folder / "one" / "tool", "not executable");
  testing::writeFile(folder / "two" / "tool", "#!/bin/sh\n");
  fs::permissions(folder / "two" / "tool", fs::perms::owner_all);
  const std::string searchPath = ":" + (folder / "missing").string() + ":" +
                                 (folder / "one").string() + ":" + (folder / "two").string();
  EXPECT_EQ(findProgramOnPath("tool", searchPath, "/"), folder / "two" / "tool");
  EXPECT_EQ(findProgramOnPath("absent", searchPath, "/"), std::nullopt);
  EXPECT_EQ(findProgramOnPath("tool", "", folder.path()), std::nullopt);
  // A relative folder lies where the program starts, not where the launcher was started.
  EXPECT_EQ(findProgramOnPath("tool", "one:two", folder.path()), folder / "two" / "tool");
  EXPECT_EQ(findProgramOnPath("tool", "one:two", "/"), std::nullopt);
}
#endif

}  // namespace
}  // namespace muvra
