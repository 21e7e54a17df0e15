#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "base/failure.h"
#include "base/text.h"
#include "update/profile.h"
#include "update/user_data_folder.h"

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

bool isFolder(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// From the top down. A part that exists is passed (a file in the way then fails the next part
// with "path not found", as Windows reports it), and so is one that cannot be created but is a
// folder, such as a drive or a share root.
// The user's local application data is private to the user already.
std::optional<std::uint32_t> createFolders(const std::filesystem::path&,
                                           const std::filesystem::path& folder) {
  std::filesystem::path partial;
  for (const std::filesystem::path& part : folder) {
    partial /= part;
    if (partial == partial.root_path() || partial == partial.root_name() ||
        CreateDirectoryW(partial.c_str(), nullptr)) {
      continue;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && !isFolder(partial)) {
      return 0x80070000U | (error & 0xFFFF);
    }
  }
  if (!isFolder(folder)) {
    return 0x80070000U | ERROR_ALREADY_EXISTS;
  }
  return std::nullopt;
}

std::filesystem::path profileRootFolder() {
  const std::optional<std::string> override = profileOverride();
  return chooseProfileRoot(override, true, override ? std::filesystem::path() : localAppData());
}

}  // namespace muvra
