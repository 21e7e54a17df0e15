#include <windows.h>

#include <vector>

#include "base/failure.h"
#include "base/process.h"

namespace muvra {

std::filesystem::path modulePath() {
  std::vector<wchar_t> buffer(32768, L'\0');
  const DWORD length =
      GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) {
    throw OperationFailure("Cannot locate the executable path.");
  }
  return std::filesystem::path(buffer.data());
}

std::uint64_t tickMilliseconds() {
  return GetTickCount64();
}

std::uint32_t processId() {
  return GetCurrentProcessId();
}

}  // namespace muvra
