#include <windows.h>

#include <chrono>
#include <cstring>
#include <limits>
#include <vector>

#include "update/files.h"

namespace muvra {

namespace {

// FileRenameInfoEx (22): mingw-w64 declares it only for a later _WIN32_WINNT than Windows 10's.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Errors a file held open for a moment gives: an antivirus scan, the search indexer.
bool isBriefHold(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

// Renames the open file onto `target`, replacing a target that others hold open with delete
// sharing (POSIX semantics); the error, or ERROR_SUCCESS.
DWORD renameByHandle(HANDLE file, const std::filesystem::path& target) {
  const std::wstring name = std::filesystem::absolute(target).native();
  const std::size_t nameBytes = name.size() * sizeof(wchar_t);
  std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes, 0);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(info->FileName, name.c_str(), nameBytes);  // the zeroed tail ends it
  if (SetFileInformationByHandle(file, kFileRenameInfoEx, info,
                                 static_cast<DWORD>(buffer.size()))) {
    return ERROR_SUCCESS;
  }
  return GetLastError();
}

}  // namespace

std::optional<std::size_t> readFileAt(FileHandle file,
                                      std::uint64_t offset,
                                      std::span<std::uint8_t> into) {
  // A synchronous handle reads at the offset the OVERLAPPED names and waits for the read.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD wanted =
      static_cast<DWORD>(std::min<std::size_t>(into.size(), std::numeric_limits<DWORD>::max()));
  DWORD count = 0;
  if (!ReadFile(file, into.data(), wanted, &count, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) {
      return 0;
    }
    return std::nullopt;
  }
  return count;
}

std::optional<NewFile> NewFile::create(const std::filesystem::path& path) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  return NewFile(handle, path);
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
  if (handle_ != kClosedFile) {
    CloseHandle(handle_);
    handle_ = kClosedFile;
  }
}

bool NewFile::truncate() {
  LARGE_INTEGER start{};
  return SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN) && SetEndOfFile(handle_);
}

bool NewFile::moveOnto(const std::filesystem::path& target, const CancellationFlag& cancel) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (;;) {
    const DWORD error = renameByHandle(handle_, target);
    if (error == ERROR_SUCCESS) {
      // The move has happened; a failing flush cannot undo it.
      FlushFileBuffers(handle_);
      close();
      return true;
    }
    if (!isBriefHold(error)) {
      break;  // a system that refuses this rename (before Windows 10 1709, FAT, Wine)
    }
    if (cancel.isSet() || std::chrono::steady_clock::now() >= until) {
      return false;
    }
    Sleep(100);
  }
  close();
  return replaceFile(path_, target, cancel);
}

std::optional<HeldFile> HeldFile::open(const std::filesystem::path& path) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    return std::nullopt;
  }
  return HeldFile(handle, static_cast<std::uint64_t>(size.QuadPart));
}

void HeldFile::close() {
  if (handle_ != kClosedFile) {
    CloseHandle(handle_);
    handle_ = kClosedFile;
  }
}

// MOVEFILE_WRITE_THROUGH: MoveFileExW returns once the file is moved on the disk.
bool replaceFile(const std::filesystem::path& source,
                 const std::filesystem::path& target,
                 const CancellationFlag& cancel) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (;;) {
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    if (!isBriefHold(GetLastError()) || cancel.isSet() ||
        std::chrono::steady_clock::now() >= until) {
      return false;
    }
    Sleep(100);
  }
}

}  // namespace muvra
