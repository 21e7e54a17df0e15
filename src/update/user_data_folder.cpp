#include "update/user_data_folder.h"

#include <cerrno>

#include "base/failure.h"
#include "base/path_text.h"

namespace muvra {

namespace {

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

bool isLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool isAbsoluteProfileOverride(std::string_view value, bool windowsRules) {
  if (!windowsRules) {
    return value.starts_with("/");
  }
  if (value.size() >= 3 && isLetter(value[0]) && value[1] == ':' && isSeparator(value[2])) {
    return true;
  }
  if (value.starts_with("\\\\?\\")) {
    return true;
  }
  // A UNC root: two separators and a server name.
  return value.size() >= 3 && isSeparator(value[0]) && isSeparator(value[1]) &&
         !isSeparator(value[2]);
}

std::filesystem::path chooseProfileRoot(const std::optional<std::string>& override,
                                        bool windowsRules,
                                        const std::filesystem::path& defaultRoot) {
  if (!override) {
    return defaultRoot / "Muvra" / "WebView2";
  }
  if (!isAbsoluteProfileOverride(*override, windowsRules)) {
    throw OperationFailure("The WebView2 profile override must be an absolute folder path.");
  }
  return pathFromUtf8(*override);
}

std::uint32_t statusFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return 0x80070005;  // access denied
    case ENOENT:
    case ENOTDIR:
      return 0x80070003;  // path not found
    case EROFS:
      return 0x80070013;  // write protected
    case ENOSPC:
      return 0x80070070;  // disk full
    default:
      return 0x80004005;  // unspecified failure
  }
}

}  // namespace muvra
