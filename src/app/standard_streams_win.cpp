#include <windows.h>

#include <cstdio>
#include <iostream>

#include "app/standard_streams.h"
#include "base/wide_text_win.h"

namespace muvra {

namespace {

bool isUsable(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// The console's own device as the standard handle `which` and as the C stream `stream`.
void bindToConsole(const wchar_t* device, DWORD which, FILE* stream, const wchar_t* mode) {
  const HANDLE handle =
      CreateFileW(device, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    SetStdHandle(which, handle);
  }
  [[maybe_unused]] FILE* const reopened = _wfreopen(device, mode, stream);
}

}  // namespace

void useParentConsoleWhenUnattached() {
  static bool looked = false;
  if (looked) {
    return;
  }
  looked = true;
  if (isUsable(STD_OUTPUT_HANDLE) || !AttachConsole(ATTACH_PARENT_PROCESS)) {
    return;
  }
  bindToConsole(L"CONOUT$", STD_OUTPUT_HANDLE, stdout, L"w");
  if (!isUsable(STD_ERROR_HANDLE)) {
    bindToConsole(L"CONOUT$", STD_ERROR_HANDLE, stderr, L"w");
  }
  if (!isUsable(STD_INPUT_HANDLE)) {
    bindToConsole(L"CONIN$", STD_INPUT_HANDLE, stdin, L"r");
  }
  std::cout.clear();
  std::cerr.clear();
  std::cin.clear();
}

void writeErrorLine(std::string_view line) {
  useParentConsoleWhenUnattached();
  if (isUsable(STD_ERROR_HANDLE)) {
    std::cerr << line << '\n';
    return;
  }
  MessageBoxW(nullptr, wideText(line).c_str(), L"Muvra Loader", MB_OK | MB_ICONERROR);
}

}  // namespace muvra
