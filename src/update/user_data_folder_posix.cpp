#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/failure.h"
#include "base/text.h"
#include "update/user_data_folder.h"

namespace muvra {

namespace {

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    return std::nullopt;
  }
  return std::string(value);
}

// $XDG_DATA_HOME when it is absolute, else ~/.local/share.
std::filesystem::path userDataFolder() {
  if (const auto data = environment("XDG_DATA_HOME"); data && data->starts_with("/")) {
    return *data;
  }
  if (const auto home = environment("HOME"); home && home->starts_with("/")) {
    return std::filesystem::path(*home) / ".local" / "share";
  }
  throw OperationFailure(
      "Cannot locate the user data folder (neither XDG_DATA_HOME nor HOME is set).");
}

// Set when 1 to 32767 UTF-16 units long, as on Windows.
std::optional<std::string> profileOverride() {
  std::optional<std::string> value = environment("MUVRA_WEBVIEW2_PROFILE_ROOT");
  if (value && utf16Length(sanitizeUtf8(*value)) > 32767) {
    return std::nullopt;
  }
  return value;
}

// Whether `inside` is `root` or lies in it.
bool isAtOrBelow(const std::filesystem::path& inside, const std::filesystem::path& root) {
  return std::mismatch(root.begin(), root.end(), inside.begin(), inside.end()).first == root.end();
}

}  // namespace

// From the top down; from the root on, each folder is looked at before anything goes into it.
std::optional<std::uint32_t> createFolders(const std::filesystem::path& root,
                                           const std::filesystem::path& folder) {
  std::filesystem::path partial;
  for (const std::filesystem::path& part : folder) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      return statusFromErrno(errno);
    }
    if (!isAtOrBelow(partial, root)) {
      continue;
    }
    struct stat status {};
    if (::stat(partial.c_str(), &status) != 0) {
      return statusFromErrno(errno);
    }
    if (!S_ISDIR(status.st_mode)) {
      return statusFromErrno(ENOTDIR);
    }
    if (status.st_uid != ::geteuid()) {
      return statusFromErrno(EACCES);
    }
  }
  return std::nullopt;
}

std::filesystem::path profileRootFolder() {
  const std::optional<std::string> override = profileOverride();
  return chooseProfileRoot(override, false, override ? std::filesystem::path() : userDataFolder());
}

}  // namespace muvra
