#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "base/cancellation.h"

namespace muvra {

// A file this process created itself: opened for writing only, shared with nobody, never an
// existing file. Closed when it goes out of scope.
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
  // Pushes what was written to the disk.
  bool flush();
  void close();
  bool isOpen() const;

 private:
#ifdef _WIN32
  using Handle = void*;
  static constexpr Handle kClosed = nullptr;
#else
  using Handle = int;
  static constexpr Handle kClosed = -1;
#endif
  explicit NewFile(Handle handle) : handle_(handle) {}
  Handle handle_;
};

// Moves `source` onto `target`, replacing it, and returns once the move has reached the disk.
// On Windows a target that something holds open for a moment (an antivirus scan, the search
// indexer) is waited for, up to 3 s, unless `cancel` is set; elsewhere an open file never stands
// in the way of a rename.
bool replaceFile(const std::filesystem::path& source,
                 const std::filesystem::path& target,
                 const CancellationFlag& cancel = CancellationFlag());

// Deletes the file if it is there; errors are ignored.
void removeFileQuietly(const std::filesystem::path& path) noexcept;

}  // namespace muvra
