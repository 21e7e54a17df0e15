#include <windows.h>

#include <vector>

#include "base/failure.h"
#include "base/unique_handle.h"
#include "proof/crypto.h"
#include "proof/sha256.h"

namespace muvra {
namespace {

struct FileTraits {
  using Handle = HANDLE;
  static Handle invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Handle handle) { CloseHandle(handle); }
};

}  // namespace

std::string sha256File(const std::filesystem::path& path) {
  Digest digest(DigestAlgorithm::Sha256);
  const UniqueHandle<FileTraits> file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                  nullptr));
  if (!file.isValid()) {
    throw OperationFailure("Could not open the update file. Check folder permissions.");
  }
  std::vector<std::uint8_t> block(kHashReadBlock, 0);
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &count, nullptr)) {
      throw OperationFailure("Could not read the downloaded file.");
    }
    if (count == 0) {
      break;
    }
    digest.update(ByteView(block.data(), count));
  }
  return hexDigest(digest.finish());
}

}  // namespace muvra
