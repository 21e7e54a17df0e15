#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The per-user folder where the launcher keeps its browser profiles, its start-up log, the log of
// checks and the record of the last proven release.
namespace muvra {

// Whether an override of the profile root is an absolute folder path: on Windows a drive, a
// colon and a separator, or a UNC or device root; elsewhere a path that starts with "/".
bool isAbsoluteProfileOverride(std::string_view value, bool windowsRules);

// The root from the override (used unchanged) or else the default root. Throws OperationFailure.
std::filesystem::path chooseProfileRoot(const std::optional<std::string>& override,
                                        bool windowsRules,
                                        const std::filesystem::path& defaultRoot);

// MUVRA_WEBVIEW2_PROFILE_ROOT, or the platform's user data folder + "Muvra" + "WebView2".
std::filesystem::path profileRootFolder();

// Creates the folder and its missing parents; the failure as the Windows status code it is (on
// Windows) or stands for (elsewhere). Elsewhere each new folder is private to the user, and the
// folders from `root` down to `folder` must be the user's own (access denied otherwise): a tree
// another user prepared could hand the browser a profile of theirs.
std::optional<std::uint32_t> createFolders(const std::filesystem::path& root,
                                           const std::filesystem::path& folder);

// The Windows status code a C library error number stands for.
std::uint32_t statusFromErrno(int error);

}  // namespace muvra
