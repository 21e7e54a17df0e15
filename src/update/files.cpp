#include "update/files.h"

#include <system_error>
#include <utility>

namespace muvra {

NewFile::NewFile(NewFile&& other) noexcept : handle_(std::exchange(other.handle_, kClosed)) {}

NewFile& NewFile::operator=(NewFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, kClosed);
  }
  return *this;
}

NewFile::~NewFile() {
  close();
}

bool NewFile::isOpen() const {
  return handle_ != kClosed;
}

void removeFileQuietly(const std::filesystem::path& path) noexcept {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

}  // namespace muvra
