#include <windows.h>

#include <bcrypt.h>

#include <vector>

#include "base/failure.h"
#include "update/sha256.h"

namespace muvra {
namespace {

class AlgorithmProvider {
 public:
  AlgorithmProvider() {
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&handle_, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      handle_ = nullptr;
    }
  }
  ~AlgorithmProvider() {
    if (handle_ != nullptr)
      BCryptCloseAlgorithmProvider(handle_, 0);
  }
  AlgorithmProvider(const AlgorithmProvider&) = delete;
  AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Hash {
 public:
  Hash(BCRYPT_ALG_HANDLE provider, std::vector<UCHAR>& object) {
    if (!BCRYPT_SUCCESS(BCryptCreateHash(provider, &handle_, object.data(),
                                         static_cast<ULONG>(object.size()), nullptr, 0, 0))) {
      handle_ = nullptr;
    }
  }
  ~Hash() {
    if (handle_ != nullptr)
      BCryptDestroyHash(handle_);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  BCRYPT_HASH_HANDLE get() const { return handle_; }

 private:
  BCRYPT_HASH_HANDLE handle_ = nullptr;
};

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::filesystem::path& path)
      : handle_(CreateFileW(path.c_str(),
                            GENERIC_READ,
                            FILE_SHARE_READ,
                            nullptr,
                            OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL,
                            nullptr)) {}
  ~ReadOnlyFile() {
    if (handle_ != INVALID_HANDLE_VALUE)
      CloseHandle(handle_);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

std::string sha256File(const std::filesystem::path& path) {
  // Destruction order closes the file, then destroys the hash, then closes the provider.
  const AlgorithmProvider provider;
  if (provider.get() == nullptr) {
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
  const Hash hash(provider.get(), hashObject);
  if (hash.get() == nullptr) {
    throw OperationFailure("SHA-256 creation failed.");
  }
  const ReadOnlyFile file(path);
  if (file.get() == INVALID_HANDLE_VALUE) {
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
