#include "update/files.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

namespace muvra {

namespace {

constexpr std::size_t kStreamBlock = 65536;

}  // namespace

NewFile::NewFile(NewFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosedFile)), path_(std::move(other.path_)) {}

NewFile& NewFile::operator=(NewFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, kClosedFile);
    path_ = std::move(other.path_);
  }
  return *this;
}

NewFile::~NewFile() {
  close();
}

bool NewFile::isOpen() const {
  return handle_ != kClosedFile;
}

HeldFile::HeldFile(HeldFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosedFile)), size_(other.size_) {}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, kClosedFile);
    size_ = other.size_;
  }
  return *this;
}

HeldFile::~HeldFile() {
  close();
}

FileReadStream::FileReadStream(ReadAt readAt) : std::istream(nullptr), buffer_(std::move(readAt)) {
  rdbuf(&buffer_);
}

FileReadStream::Buffer::Buffer(ReadAt readAt) : readAt_(std::move(readAt)), block_(kStreamBlock) {}

std::optional<std::size_t> FileReadStream::Buffer::read(char* into, std::size_t count) {
  const std::optional<std::size_t> read =
      readAt_(next_, std::span(reinterpret_cast<std::uint8_t*>(into), count));
  if (read) {
    next_ += *read;
  }
  return read;
}

FileReadStream::Buffer::int_type FileReadStream::Buffer::underflow() {
  if (gptr() == egptr()) {
    const std::optional<std::size_t> count = read(block_.data(), block_.size());
    if (!count || *count == 0) {
      return traits_type::eof();
    }
    setg(block_.data(), block_.data(), block_.data() + *count);
  }
  return traits_type::to_int_type(*gptr());
}

// Large reads go straight into the caller's buffer.
std::streamsize FileReadStream::Buffer::xsgetn(char* into, std::streamsize count) {
  std::streamsize done = 0;
  while (done < count) {
    if (gptr() == egptr() && count - done >= static_cast<std::streamsize>(block_.size())) {
      const std::optional<std::size_t> read =
          this->read(into + done, static_cast<std::size_t>(count - done));
      if (!read || *read == 0) {
        break;
      }
      done += static_cast<std::streamsize>(*read);
      continue;
    }
    if (underflow() == traits_type::eof()) {
      break;
    }
    const std::streamsize buffered = std::min<std::streamsize>(egptr() - gptr(), count - done);
    std::memcpy(into + done, gptr(), static_cast<std::size_t>(buffered));
    gbump(static_cast<int>(buffered));
    done += buffered;
  }
  return done;
}

FileReadStream::Buffer::pos_type FileReadStream::Buffer::seekoff(off_type offset,
                                                                 std::ios::seekdir from,
                                                                 std::ios::openmode which) {
  const auto current = static_cast<off_type>(next_) - (egptr() - gptr());
  if (from == std::ios::cur) {
    return seekpos(current + offset, which);
  }
  if (from == std::ios::beg) {
    return seekpos(offset, which);
  }
  return pos_type(off_type(-1));
}

FileReadStream::Buffer::pos_type FileReadStream::Buffer::seekpos(pos_type position,
                                                                 std::ios::openmode) {
  if (off_type(position) < 0) {
    return pos_type(off_type(-1));
  }
  next_ = static_cast<std::uint64_t>(off_type(position));
  setg(nullptr, nullptr, nullptr);
  return position;
}

void removeFileQuietly(const std::filesystem::path& path) noexcept {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

}  // namespace muvra
