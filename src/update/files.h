#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <optional>
#include <span>
#include <streambuf>
#include <vector>

#include "base/cancellation.h"

namespace muvra {

#ifdef _WIN32
using FileHandle = void*;
inline constexpr FileHandle kClosedFile = nullptr;
#else
using FileHandle = int;
inline constexpr FileHandle kClosedFile = -1;
#endif

// Reads up to `into.size()` bytes at `offset` through an open handle: how many it read (0 at the
// end), or empty when the read fails.
std::optional<std::size_t> readFileAt(FileHandle file,
                                      std::uint64_t offset,
                                      std::span<std::uint8_t> into);

// A file this process created itself, never an existing one: written, read back and moved
// through the one handle it holds from creation on. On Windows others may only read it while it
// is open. Closed when it goes out of scope.
class NewFile {
 public:
  // Empty when the name exists already or the file cannot be created.
  static std::optional<NewFile> create(const std::filesystem::path& path);

  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&& other) noexcept;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile();

  // Writes the whole block, or answers false.
  bool write(const std::uint8_t* data, std::size_t size);
  // Empties the file; the next write goes to its start.
  bool truncate();
  // Hands what was written to the disk (FlushFileBuffers, fsync).
  bool flush();
  std::optional<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> into) const {
    return readFileAt(handle_, offset, into);
  }
  // Moves the file onto `target`, replacing it, and closes it; false when it stays where it was.
  // On Windows the open file itself is renamed (FileRenameInfoEx, replacing a target that others
  // hold open with delete sharing), then FlushFileBuffers writes the file's buffered information
  // to the device; Microsoft documents no more than that about the new name reaching the disk.
  // Where the system refuses that rename (before Windows 10 1709, FAT, Wine) the file is closed
  // and moved by name as replaceFile moves it.
  bool moveOnto(const std::filesystem::path& target,
                const CancellationFlag& cancel = CancellationFlag());
  void close();
  bool isOpen() const;

 private:
  NewFile(FileHandle handle, std::filesystem::path path)
      : handle_(handle), path_(std::move(path)) {}
  FileHandle handle_;
  std::filesystem::path path_;
};

// An existing file held open for reading while it is proved and started. On Windows others may
// read it but not write, delete or rename it until it is closed; elsewhere nothing stops them.
class HeldFile {
 public:
  // Empty when it is not a regular file or cannot be opened for reading.
  static std::optional<HeldFile> open(const std::filesystem::path& path);

  HeldFile(HeldFile&& other) noexcept;
  HeldFile& operator=(HeldFile&& other) noexcept;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile();

  std::uint64_t size() const { return size_; }
  std::optional<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> into) const {
    return readFileAt(handle_, offset, into);
  }

 private:
  HeldFile(FileHandle handle, std::uint64_t size) : handle_(handle), size_(size) {}
  void close();
  FileHandle handle_;
  std::uint64_t size_;
};

// An open file's bytes as a std::istream for the proofs, read through its handle at the offsets
// they seek to. A failing read ends the stream early, as the end of the file would.
class FileReadStream : public std::istream {
 public:
  using ReadAt =
      std::function<std::optional<std::size_t>(std::uint64_t offset, std::span<std::uint8_t> into)>;
  explicit FileReadStream(ReadAt readAt);
  template <typename File>
  requires requires(const File& file, std::span<std::uint8_t> into) { file.readAt(0, into); }
  explicit FileReadStream(const File& file)
      : FileReadStream([&file](std::uint64_t offset, std::span<std::uint8_t> into) {
          return file.readAt(offset, into);
        }) {}

 private:
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(ReadAt readAt);

   protected:
    int_type underflow() override;
    std::streamsize xsgetn(char* into, std::streamsize count) override;
    pos_type seekoff(off_type offset, std::ios::seekdir from, std::ios::openmode) override;
    pos_type seekpos(pos_type position, std::ios::openmode) override;

   private:
    std::optional<std::size_t> read(char* into, std::size_t count);
    ReadAt readAt_;
    std::uint64_t next_ = 0;  // the file offset just past the buffered bytes
    std::vector<char> block_;
  };
  Buffer buffer_;
};

// Moves `source` onto `target`, replacing it: on Windows MoveFileExW with write-through, which
// returns once the file is moved on the disk; elsewhere a rename, then the folder's fsync. On
// Windows a target that something holds open for a moment (an antivirus scan, the search
// indexer) is waited for, up to 3 s, unless `cancel` is set; elsewhere an open file never stands
// in the way of a rename.
bool replaceFile(const std::filesystem::path& source,
                 const std::filesystem::path& target,
                 const CancellationFlag& cancel = CancellationFlag());

// Deletes the file if it is there; errors are ignored.
void removeFileQuietly(const std::filesystem::path& path) noexcept;

}  // namespace muvra
