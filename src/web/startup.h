#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace muvra {

inline constexpr std::uint32_t kUnexpectedFailure = 0x8000FFFF;

// What the browser start-up of either host knows about itself.
struct StartupState {
  std::filesystem::path executable;   // the running launcher
  std::filesystem::path profileRoot;  // empty until first needed
  std::filesystem::path profileFolder;
  unsigned attempt = 0;  // 1 once the recovery restart was made; never more
  std::string lastStage;
  std::uint32_t lastCode = 0;
  std::string statusText;
  bool closing = false;
  bool windowExists = false;
};

// Whether an override of the profile root is an absolute folder path: on Windows a drive, a
// colon and a separator, or a UNC or device root; elsewhere a path that starts with "/".
bool isAbsoluteProfileOverride(std::string_view value, bool windowsRules);

// The root from the override (used unchanged) or else the default root. Throws OperationFailure.
std::filesystem::path chooseProfileRoot(const std::optional<std::string>& override,
                                        bool windowsRules,
                                        const std::filesystem::path& defaultRoot);

// MUVRA_WEBVIEW2_PROFILE_ROOT, or the platform's user data folder + "Muvra" + "WebView2".
std::filesystem::path profileRootFolder();

std::filesystem::path startupLogPath(const StartupState& state);
std::string startupLogLine(std::uint64_t tick,
                           unsigned attempt,
                           std::string_view stage,
                           std::uint32_t code);

// Records the stage and appends its log line when it can; never fails visibly.
void logStartupStage(StartupState& state, std::string_view stage, std::uint32_t code);

// Sets the profile root when still empty and this attempt's profile folder, and creates it. A
// folder that cannot be created gives its error as a status code; a root that cannot be
// determined throws OperationFailure.
std::optional<std::uint32_t> createProfileFolder(StartupState& state);

// Creates the folder and its missing parents; the failure as the Windows status code it is (on
// Windows) or stands for (elsewhere). Elsewhere each new folder is private to the user, and the
// folders from `root` down to `folder` must be the user's own (access denied otherwise): a tree
// another user prepared could hand the browser a profile of theirs.
std::optional<std::uint32_t> createFolders(const std::filesystem::path& root,
                                           const std::filesystem::path& folder);

// The Windows status code a C library error number stands for.
std::uint32_t statusFromErrno(int error);

enum class StartupOutcome { Restart, Failed };

// Logs a failed stage, then either asks for the one recovery restart or sets the error text.
// The host repaints, and on Restart posts its restart message.
StartupOutcome reportStartupFailure(StartupState& state,
                                    std::string_view stage,
                                    std::uint32_t code);

std::string startupFailureText(std::string_view stage, std::uint32_t code);
std::string startupSummary(const StartupState& state);

}  // namespace muvra
