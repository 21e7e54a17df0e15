#include <windows.h>

#include <bcrypt.h>

#include <vector>

#include "base/failure.h"
#include "base/unique_handle.h"
#include "update/sha256.h"

namespace muvra {
namespace {

struct ProviderTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle invalid() { return nullptr; }
  static void close(Handle handle) { BCryptCloseAlgorithmProvider(handle, 0); }
};

struct HashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle invalid() { return nullptr; }
  static void close(Handle handle) { BCryptDestroyHash(handle); }
};

struct FileTraits {
  using Handle = HANDLE;
  static Handle invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Handle handle) { CloseHandle(handle); }
};

}  // namespace

std::string sha256File(const std::filesystem::path& path) {
  // Destruction order closes the file, then destroys the hash, then closes the provider.
  UniqueHandle<ProviderTraits> provider;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(provider.receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    throw OperationFailure("SHA-256 initialization failed.");
  }
  DWORD objectLength = 0;
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptGetProperty(provider.get(), BCRYPT_OBJECT_LENGTH,
                                        reinterpret_cast<PUCHAR>(&objectLength),
                                        sizeof(objectLength), &written, 0))) {
    throw OperationFailure("SHA-256 setup failed.");
  }
  std::vector<UCHAR> hashObject(objectLength);
  UniqueHandle<HashTraits> hash;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(provider.get(), hash.receive(), hashObject.data(),
                                       static_cast<ULONG>(hashObject.size()), nullptr, 0, 0))) {
    throw OperationFailure("SHA-256 creation failed.");
  }
  const UniqueHandle<FileTraits> file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                  nullptr));
  if (!file.isValid()) {
    throw OperationFailure("Could not open the update file. Check folder permissions.");
  }
  std::vector<UCHAR> block(kHashReadBlock, 0);
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &count, nullptr)) {
      throw OperationFailure("Could not read the downloaded file.");
    }
    if (count == 0) {
      break;
    }
    if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), block.data(), count, 0))) {
      throw OperationFailure("SHA-256 update failed.");
    }
  }
  std::array<std::uint8_t, 32> digest{};
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest.data(), 32, 0))) {
    throw OperationFailure("SHA-256 verification failed.");
  }
  return hexDigest(digest);
}

}  // namespace muvra
