#include "window/startup.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>

#include <sstream>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/path_text.h"
#include "support/temporary_folder.h"
#include "update/profile.h"

namespace muvra {
namespace {

namespace fs = std::filesystem;

TEST(ProfileOverrideTest, AbsoluteFormsPerPlatform) {
  struct Case {
    const char* value;
    bool windows;
    bool posix;
  };
  for (const Case& c :
       {Case{"C:/test/profiles", true, false}, Case{"c:\\p", true, false}, Case{"C:", false, false},
        Case{"C:profiles", false, false}, Case{"\\\\server\\share", true, false},
        Case{"//server/share", true, true}, Case{"\\\\?\\C:\\p", true, false},
        Case{"\\profiles", false, false}, Case{"/profiles", false, true},
        Case{"profiles", false, false}, Case{"./p", false, false}, Case{"1:/p", false, false},
        Case{"\\\\", false, false}}) {
    EXPECT_EQ(isAbsoluteProfileOverride(c.value, true), c.windows) << c.value;
    EXPECT_EQ(isAbsoluteProfileOverride(c.value, false), c.posix) << c.value;
  }
}

TEST(ProfileOverrideTest, ChoosesTheRoot) {
  EXPECT_EQ(chooseProfileRoot(std::nullopt, false, "/home/u/.local/share"),
            fs::path("/home/u/.local/share") / "Muvra" / "WebView2");
  EXPECT_EQ(chooseProfileRoot("C:/test/profiles", true, {}), pathFromUtf8("C:/test/profiles"));
  try {
    chooseProfileRoot("profiles", true, "/x");
    FAIL() << "a relative override was taken";
  } catch (const OperationFailure& failure) {
    EXPECT_STREQ(failure.what(), "The WebView2 profile override must be an absolute folder path.");
  }
}

#ifndef _WIN32
TEST(ProfileOverrideTest, ReadsTheEnvironment) {
  setenv("MUVRA_WEBVIEW2_PROFILE_ROOT", "/srv/profiles", 1);
  EXPECT_EQ(profileRootFolder(), fs::path("/srv/profiles"));
  setenv("MUVRA_WEBVIEW2_PROFILE_ROOT", "relative", 1);
  EXPECT_THROW(profileRootFolder(), OperationFailure);
  setenv("MUVRA_WEBVIEW2_PROFILE_ROOT", "", 1);
  setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(profileRootFolder(), fs::path("/data/Muvra/WebView2"));
  setenv("XDG_DATA_HOME", "relative", 1);
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(profileRootFolder(), fs::path("/home/someone/.local/share/Muvra/WebView2"));
  unsetenv("MUVRA_WEBVIEW2_PROFILE_ROOT");
}
#endif

TEST(ProfileFolderTest, AFileInTheWayIsAPathNotFound) {
  const testing::TemporaryFolder folder;
  testing::writeFile(folder / "file", "not a folder");
  StartupState state;
  state.executable = folder / "MuvraLoader.exe";
  state.profileRoot = folder / "file" / "profiles";
  EXPECT_EQ(createProfileFolder(state), 0x80070003u);
  const std::string text = startupFailureText("Create profile folder", 0x80070003);
  EXPECT_NE(text.find("The browser runtime could not finish starting."), std::string::npos);
  state.profileRoot = folder / "profiles";
  EXPECT_EQ(createProfileFolder(state), std::nullopt);
  EXPECT_TRUE(fs::is_directory(state.profileFolder));
  EXPECT_EQ(createProfileFolder(state), std::nullopt) << "an existing folder is fine";
}

#ifndef _WIN32
TEST(ProfileFolderTest, NewFoldersArePrivateAndAForeignTreeIsRefused) {
  const testing::TemporaryFolder folder;
  StartupState state;
  state.executable = folder / "muvra-loader";
  state.profileRoot = folder / "profiles";
  ASSERT_EQ(createProfileFolder(state), std::nullopt);
  for (fs::path inside = state.profileFolder; inside != folder.path();
       inside = inside.parent_path()) {
    EXPECT_EQ(fs::status(inside).permissions(), fs::perms::owner_all) << inside;
  }
  logStartupStage(state, "Create environment", 0);
  EXPECT_TRUE(fs::exists(startupLogPath(state)));

  if (::geteuid() != 0) {
    GTEST_SKIP() << "only root can give a folder to another user";
  }
  // The same tree, prepared by another user: neither the profile nor the log is used.
  fs::remove(startupLogPath(state));
  ASSERT_EQ(::chown(state.profileRoot.c_str(), 65534, 65534), 0);
  EXPECT_EQ(createProfileFolder(state), 0x80070005u);
  logStartupStage(state, "Create environment", 0);
  EXPECT_FALSE(fs::exists(startupLogPath(state)));
  ASSERT_EQ(::chown(state.profileRoot.c_str(), 0, 0), 0);
  ASSERT_EQ(::chown(state.profileFolder.c_str(), 65534, 65534), 0);
  EXPECT_EQ(createProfileFolder(state), 0x80070005u);
}
#endif

TEST(ProfileFolderTest, ErrorNumbersStandForWindowsCodes) {
  const std::pair<int, std::uint32_t> table[] = {
      {EACCES, 0x80070005}, {EPERM, 0x80070005},  {ENOENT, 0x80070003}, {ENOTDIR, 0x80070003},
      {EROFS, 0x80070013},  {ENOSPC, 0x80070070}, {EEXIST, 0x80004005}, {0, 0x80004005}};
  for (const auto& [error, code] : table) {
    EXPECT_EQ(statusFromErrno(error), code) << error;
  }
}

TEST(StartupLogTest, LineFormat) {
  EXPECT_EQ(startupLogLine(123456, 0, "Create environment", 0),
            "123456 attempt=0 stage=Create environment code=0x00000000\n");
  EXPECT_EQ(startupLogLine(7, 1, "Create controller", 0x80070005),
            "7 attempt=1 stage=Create controller code=0x80070005\n");
}

std::vector<std::string> logLines(const StartupState& state) {
  std::istringstream log(testing::readFile(startupLogPath(state)));
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) {
#ifdef _WIN32
    // Text mode writes CR LF on Windows.
    EXPECT_TRUE(line.ends_with('\r'));
    line.pop_back();
#endif
    lines.push_back(line.substr(line.find(' ') + 1));
  }
  return lines;
}

StartupState openWindow(const testing::TemporaryFolder& folder) {
  StartupState state;
  state.executable = "C:/apps/MuvraLoader.exe";
  state.profileRoot = folder / "profiles";  // made by the first log line
  state.windowExists = true;
  return state;
}

TEST(StartupFailureTest, RestartsOnceThenShowsTheErrorText) {
  const testing::TemporaryFolder folder;
  StartupState state = openWindow(folder);
  logStartupStage(state, "Create environment", 0);
  EXPECT_EQ(reportStartupFailure(state, "Create controller", 0x80004005), StartupOutcome::Restart);
  EXPECT_EQ(state.attempt, 1u);
  EXPECT_EQ(state.statusText, "Restarting the interface with a separate browser profile...");
  logStartupStage(state, "Create environment", 0);
  EXPECT_EQ(reportStartupFailure(state, "Create environment", 0x80070002), StartupOutcome::Failed);
  EXPECT_EQ(state.attempt, 1u);
  EXPECT_EQ(state.statusText,
            "Muvra could not open its interface.\n\nStage: Create environment\nWindows error: "
            "0x80070002\n\nMicrosoft Edge WebView2 Runtime could not be found.\n\nClose this "
            "window and retry. The startup log is under LocalAppData\\Muvra\\WebView2.");
  EXPECT_EQ(logLines(state),
            (std::vector<std::string>{"attempt=0 stage=Create environment code=0x00000000",
                                      "attempt=0 stage=Create controller code=0x80004005",
                                      "attempt=1 stage=Create environment code=0x00000000",
                                      "attempt=1 stage=Create environment code=0x80070002"}));
  EXPECT_EQ(startupLogPath(state).filename(),
            fs::path(profileKey(state.executable) + "-startup.log"));
  EXPECT_EQ(startupSummary(state), "Create environment 0x80070002: " + state.statusText);
}

TEST(StartupFailureTest, ReasonsAndSuccessCodes) {
  struct Case {
    std::uint32_t code;
    std::uint32_t shown;
    const char* reason;
  };
  for (const Case& c :
       {Case{0x80070005, 0x80070005, "Windows denied access to the browser profile."},
        Case{0x80004005, 0x80004005, "The browser runtime could not finish starting."},
        Case{0, 0x8000FFFF, "The browser runtime could not finish starting."},
        Case{1, 0x8000FFFF, "The browser runtime could not finish starting."}}) {
    const testing::TemporaryFolder folder;
    StartupState state = openWindow(folder);
    state.attempt = 1;
    EXPECT_EQ(reportStartupFailure(state, "Stage", c.code), StartupOutcome::Failed);
    EXPECT_EQ(state.lastCode, c.shown);
    EXPECT_NE(state.statusText.find(std::string("\n\n") + c.reason + "\n\n"), std::string::npos);
    EXPECT_NE(state.statusText.find("Windows error: " + formatStatusCode(c.shown)),
              std::string::npos);
  }
}

TEST(StartupFailureTest, NeverRestartsWhileClosingOrWithoutWindow) {
  for (const bool closing : {true, false}) {
    const testing::TemporaryFolder folder;
    StartupState state = openWindow(folder);
    state.closing = closing;  // either closing, or the window is already gone
    state.windowExists = closing;
    EXPECT_EQ(reportStartupFailure(state, "Create environment", 0x80004005),
              StartupOutcome::Failed);
    EXPECT_EQ(state.attempt, 0u);
    EXPECT_EQ(logLines(state).size(), 1u);
  }
}

TEST(StartupFailureTest, UnwritableLogIsIgnored) {
  const testing::TemporaryFolder folder;
  StartupState state = openWindow(folder);
  testing::writeFile(folder / "profiles", "a file where the folder should be");
  logStartupStage(state, "Create environment", 0);
  EXPECT_EQ(state.lastStage, "Create environment");
  EXPECT_EQ(startupSummary(state), "Create environment 0x00000000");
}

}  // namespace
}  // namespace muvra
