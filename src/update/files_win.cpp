#include <windows.h>

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

bool replaceFile(const std::filesystem::path& source, const std::filesystem::path& target) {
  return MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace muvra
