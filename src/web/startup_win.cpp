#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "base/failure.h"
#include "base/text.h"
#include "web/profile.h"
#include "web/startup.h"

namespace muvra {

namespace {

std::optional<std::string> profileOverride() {
  std::wstring value(32768, L'\0');
  const DWORD length = GetEnvironmentVariableW(L"MUVRA_WEBVIEW2_PROFILE_ROOT", value.data(), 32768);
  if (length < 1 || length > 32767) {
    return std::nullopt;
  }
  value.resize(length);
  return utf16ToUtf8Lossy(std::u16string(value.begin(), value.end()));
}

std::filesystem::path localAppData() {
  PWSTR path = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path);
  if (FAILED(result) || path == nullptr) {
    CoTaskMemFree(path);
    throw OperationFailure("Cannot locate the Windows user-data folder (" +
                           formatStatusCode(static_cast<std::uint32_t>(result)) + ").");
  }
  std::filesystem::path folder(path);
  CoTaskMemFree(path);
  return folder;
}

}  // namespace

std::filesystem::path profileRootFolder() {
  const std::optional<std::string> override = profileOverride();
  return chooseProfileRoot(override, true, override ? std::filesystem::path() : localAppData());
}

}  // namespace muvra
