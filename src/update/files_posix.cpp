#include <fcntl.h>
#include <sys/stat.h>
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

std::optional<std::size_t> readFileAt(FileHandle file,
                                      std::uint64_t offset,
                                      std::span<std::uint8_t> into) {
  ssize_t count;
  do {
    count = ::pread(file, into.data(), into.size(), static_cast<off_t>(offset));
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(count);
}

std::optional<NewFile> NewFile::create(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    return std::nullopt;
  }
  return NewFile(fd, path);
}

// A rename by name: POSIX has none by descriptor, and an open file never stands in its way.
bool NewFile::moveOnto(const std::filesystem::path& target, const CancellationFlag& cancel) {
  close();
  return replaceFile(path_, target, cancel);
}

std::optional<HeldFile> HeldFile::open(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  return HeldFile(fd, static_cast<std::uint64_t>(status.st_size));
}

void HeldFile::close() {
  if (handle_ != kClosedFile) {
    ::close(handle_);
    handle_ = kClosedFile;
  }
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
  if (handle_ != kClosedFile) {
    ::close(handle_);
    handle_ = kClosedFile;
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
