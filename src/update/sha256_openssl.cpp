#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "base/failure.h"
#include "base/shared_library.h"
#include "base/unique_handle.h"
#include "update/sha256.h"

namespace muvra {
namespace {

// OpenSSL's digest functions, loaded on the first hash: the window starts without OpenSSL.
struct Crypto {
  Crypto() {
    library.bind(newContext, "EVP_MD_CTX_new");
    library.bind(freeContext, "EVP_MD_CTX_free");
    library.bind(sha256, "EVP_sha256");
    library.bind(digestInit, "EVP_DigestInit_ex");
    library.bind(digestUpdate, "EVP_DigestUpdate");
    library.bind(digestFinal, "EVP_DigestFinal_ex");
  }

  SharedLibrary library{"libcrypto.so.3", "libssl3"};
  decltype(&EVP_MD_CTX_new) newContext;
  decltype(&EVP_MD_CTX_free) freeContext;
  decltype(&EVP_sha256) sha256;
  decltype(&EVP_DigestInit_ex) digestInit;
  decltype(&EVP_DigestUpdate) digestUpdate;
  decltype(&EVP_DigestFinal_ex) digestFinal;
};

const Crypto& crypto() {
  static const Crypto loaded;
  return loaded;
}

struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { crypto().freeContext(context); }
};

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
  const Crypto& api = crypto();
  std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(api.newContext());
  if (!context) {
    throw OperationFailure("SHA-256 initialization failed.");
  }
  if (api.digestInit(context.get(), api.sha256(), nullptr) != 1) {
    throw OperationFailure("SHA-256 creation failed.");
  }
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
    if (api.digestUpdate(context.get(), block.data(), static_cast<std::size_t>(count)) != 1) {
      throw OperationFailure("SHA-256 update failed.");
    }
  }
  std::array<std::uint8_t, 32> digest{};
  unsigned int length = 0;
  if (api.digestFinal(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
    throw OperationFailure("SHA-256 verification failed.");
  }
  return hexDigest(digest);
}

}  // namespace muvra
