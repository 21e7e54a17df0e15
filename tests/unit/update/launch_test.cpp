#include "update/launch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/failure.h"
#include "base/path_text.h"
#include "base/process.h"
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

// The launched child is detached, so there is no handle to wait on: poll for its record, which
// it renames into place whole, for up to 20 seconds.
std::string awaitRecord(const fs::path& record) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    if (fs::exists(record, error)) {
      try {
        return testing::readFile(record);
      } catch (const std::runtime_error&) {
        // Windows may still be finishing the child's rename; look again.
      }
    }
    std::this_thread::yield();
  }
  return "";
}

TEST(LaunchApplicationTest, StartsTheChildInTheWorkingFolderWithTwoArguments) {
  const TemporaryFolder folder;
  const fs::path loader = folder / "loader folder";
  fs::create_directories(loader / "app");
  const fs::path child = loader / "app" / kChildName;
  fs::copy_file(modulePath().parent_path() / kChildName, child);
  const fs::path settings = loader / "settings.ini";

  launchApplication(child, settings, loader);

  const std::string record = awaitRecord(loader / "launch-record.txt");
  ASSERT_FALSE(record.empty()) << "the child never wrote its record";
  const std::string expected =
      pathToUtf8(fs::canonical(loader)) + "\n--config\n" + pathToUtf8(settings) + "\n";
  EXPECT_EQ(record, expected);
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
  EXPECT_EQ(findProgramOnPath("tool", searchPath), folder / "two" / "tool");
  EXPECT_EQ(findProgramOnPath("absent", searchPath), std::nullopt);
  EXPECT_EQ(findProgramOnPath("tool", ""), std::nullopt);
}
#endif

}  // namespace
}  // namespace muvra
