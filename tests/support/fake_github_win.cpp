#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "base/path_text.h"
#include "support/fake_github.h"

namespace muvra::testing {

namespace {

std::filesystem::path harnessFolder() {
  const wchar_t* folder = _wgetenv(L"MUVRA_TEST_FAKE_GITHUB");
  if (folder == nullptr || *folder == L'\0') {
    throw std::runtime_error(
        "MUVRA_TEST_FAKE_GITHUB is not set: run this binary through "
        "tests/wine/with_fake_github.py.");
  }
  return folder;
}

}  // namespace

FakeGitHub::FakeGitHub() : folder_(harnessFolder()) {
  setRoutes(nlohmann::json::object());
  std::error_code ignored;
  std::filesystem::remove(folder_ / "requests.jsonl", ignored);
  std::filesystem::remove(folder_ / "sent.jsonl", ignored);
}

FakeGitHub::~FakeGitHub() {
  setRoutes(nlohmann::json::object());
}

// The server is a Linux process: Wine names the Unix path of a Windows one.
std::string serverPath(const std::filesystem::path& path) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  static const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) {
    throw std::runtime_error("The fake GitHub needs Wine to name Unix paths.");
  }
  char* name = unixName(std::filesystem::absolute(path).c_str());
  if (name == nullptr) {
    throw std::runtime_error("Wine has no Unix name for " + pathToUtf8(path));
  }
  std::string result(name);
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

}  // namespace muvra::testing
