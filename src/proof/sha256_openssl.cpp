#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "base/failure.h"
#include "base/unique_handle.h"
#include "proof/crypto.h"
#include "proof/sha256.h"

namespace muvra {
namespace {

struct FdTraits {
  using Handle = int;
  static Handle invalid() { return -1; }
  static void close(Handle fd) { ::close(fd); }
};

// Only regular files count as opened, as on Windows, where a folder cannot be opened for reading.
bool isRegularFile(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

ssize_t readRetrying(int fd, std::uint8_t* buffer, std::size_t size) {
  ssize_t count;
  do {
    count = ::read(fd, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

}  // namespace

std::string sha256File(const std::filesystem::path& path) {
  Digest digest(DigestAlgorithm::Sha256);
  const UniqueHandle<FdTraits> file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.isValid() || !isRegularFile(file.get())) {
    throw OperationFailure("Could not open the update file. Check folder permissions.");
  }
  std::vector<std::uint8_t> block(kHashReadBlock, 0);
  for (;;) {
    const ssize_t count = readRetrying(file.get(), block.data(), block.size());
    if (count < 0) {
      throw OperationFailure("Could not read the downloaded file.");
    }
    if (count == 0) {
      break;
    }
    digest.update(ByteView(block.data(), static_cast<std::size_t>(count)));
  }
  return hexDigest(digest.finish());
}

}  // namespace muvra
