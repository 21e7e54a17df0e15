#include <cstdlib>
#include <cstring>

#include "base/failure.h"
#include "base/text.h"
#include "web/startup.h"

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

}  // namespace

std::optional<std::uint32_t> createFolders(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!error) {
    return std::nullopt;
  }
  return statusFromErrno(error.value());
}

std::filesystem::path profileRootFolder() {
  const std::optional<std::string> override = profileOverride();
  return chooseProfileRoot(override, false, override ? std::filesystem::path() : userDataFolder());
}

}  // namespace muvra
