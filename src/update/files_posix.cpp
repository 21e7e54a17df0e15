#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "update/files.h"

namespace muvra {
namespace {

bool syncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace

std::optional<NewFile> NewFile::create(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    return std::nullopt;
  }
  return NewFile(fd);
}

bool NewFile::write(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(handle_, data, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool NewFile::truncate() {
  return ::ftruncate(handle_, 0) == 0 && ::lseek(handle_, 0, SEEK_SET) == 0;
}

bool NewFile::flush() {
  return ::fsync(handle_) == 0;
}

void NewFile::close() {
  if (handle_ != kClosed) {
    ::close(handle_);
    handle_ = kClosed;
  }
}

bool replaceFile(const std::filesystem::path& source,
                 const std::filesystem::path& target,
                 const CancellationFlag&) {
  if (std::rename(source.c_str(), target.c_str()) != 0) {
    return false;
  }
  // The rename has happened; syncing the folder makes it durable. A failing sync cannot undo it,
  // so it does not turn the move into a failure.
  syncFolder(target.parent_path());
  return true;
}

}  // namespace muvra
