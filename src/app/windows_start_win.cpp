#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <new>
#include <string_view>

#include "app/windows_start.h"
#include "base/failure.h"
#include "base/text.h"

namespace muvra {

namespace {

void initialiseComForThisThread() {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (result == E_OUTOFMEMORY) {
    throw std::bad_alloc();
  }
  if (FAILED(result)) {
    throw PlatformError(static_cast<std::uint32_t>(result));
  }
}

// Windows draws a DPI-unaware window's bitmap stretched, and blurred, at 125 % and above: the
// window and its view take each monitor's own scale instead (Windows 10 1703 and later; before
// that the process stays unaware). Declared in code, as the executable carries no manifest.
void declarePerMonitorDpiAwareness() {
  using SetAwareness = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  const auto set = reinterpret_cast<SetAwareness>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
  if (set != nullptr) {
    set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  }
}

}  // namespace

void prepareMainThread() {
  declarePerMonitorDpiAwareness();
  initialiseComForThisThread();
}

std::vector<std::string> modeArguments(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < std::min(argc, 3); ++i) {
    const std::wstring_view argument(argv[i]);
    arguments.push_back(utf16ToUtf8Lossy(std::u16string(argument.begin(), argument.end())));
  }
  return arguments;
}

}  // namespace muvra
