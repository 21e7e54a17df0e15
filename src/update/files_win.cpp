#include <windows.h>

#include <chrono>
#include <limits>

#include "update/files.h"

namespace muvra {

std::optional<NewFile> NewFile::create(const std::filesystem::path& path) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  return NewFile(handle);
}

bool NewFile::write(const std::uint8_t* data, std::size_t size) {
  if (size > std::numeric_limits<DWORD>::max()) {
    return false;
  }
  DWORD written = 0;
  return WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool NewFile::flush() {
  return FlushFileBuffers(handle_) != 0;
}

void NewFile::close() {
  if (handle_ != kClosed) {
    CloseHandle(handle_);
    handle_ = kClosed;
  }
}

bool NewFile::truncate() {
  LARGE_INTEGER start{};
  return SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN) && SetEndOfFile(handle_);
}

bool replaceFile(const std::filesystem::path& source,
                 const std::filesystem::path& target,
                 const CancellationFlag& cancel) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (;;) {
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    const bool brieflyHeld = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                             error == ERROR_LOCK_VIOLATION;
    if (!brieflyHeld || cancel.isSet() || std::chrono::steady_clock::now() >= until) {
      return false;
    }
    Sleep(100);
  }
}

}  // namespace muvra
