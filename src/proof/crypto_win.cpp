#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include "base/failure.h"
#include "base/unique_handle.h"
#include "proof/crypto.h"

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

struct KeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle invalid() { return nullptr; }
  static void close(Handle handle) { BCryptDestroyKey(handle); }
};

struct LocalMemoryTraits {
  using Handle = void*;
  static Handle invalid() { return nullptr; }
  static void close(Handle memory) { LocalFree(memory); }
};

const wchar_t* algorithmName(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Sha256:
      return BCRYPT_SHA256_ALGORITHM;
    case DigestAlgorithm::Sha384:
      return BCRYPT_SHA384_ALGORITHM;
    case DigestAlgorithm::Sha512:
      return BCRYPT_SHA512_ALGORITHM;
  }
  return nullptr;
}

std::size_t digestSize(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Sha256:
      return 32;
    case DigestAlgorithm::Sha384:
      return 48;
    case DigestAlgorithm::Sha512:
      return 64;
  }
  return 0;
}

// The key of a DER SubjectPublicKeyInfo as a CNG key (crypt32 decodes RSA and the NIST curves).
UniqueHandle<KeyTraits> importKey(ByteView subjectPublicKeyInfo) {
  UniqueHandle<LocalMemoryTraits> decoded;
  DWORD decodedSize = 0;
  UniqueHandle<KeyTraits> key;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, subjectPublicKeyInfo.data(),
                           static_cast<DWORD>(subjectPublicKeyInfo.size()), CRYPT_DECODE_ALLOC_FLAG,
                           nullptr, decoded.receive(), &decodedSize)) {
    return key;
  }
  if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING,
                                   static_cast<CERT_PUBLIC_KEY_INFO*>(decoded.get()), 0, nullptr,
                                   key.receive())) {
    key.reset();
  }
  return key;
}

}  // namespace

// Destruction order destroys the hash, then closes the provider.
struct Digest::State {
  UniqueHandle<ProviderTraits> provider;
  std::vector<UCHAR> hashObject;
  UniqueHandle<HashTraits> hash;
  DWORD length = 0;
};

Digest::Digest(DigestAlgorithm algorithm) : state_(std::make_unique<State>()) {
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(state_->provider.receive(),
                                                  algorithmName(algorithm), nullptr, 0))) {
    throw OperationFailure("SHA-256 initialization failed.");
  }
  DWORD objectLength = 0;
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptGetProperty(state_->provider.get(), BCRYPT_OBJECT_LENGTH,
                                        reinterpret_cast<PUCHAR>(&objectLength),
                                        sizeof(objectLength), &written, 0))) {
    throw OperationFailure("SHA-256 setup failed.");
  }
  state_->hashObject.resize(objectLength);
  if (!BCRYPT_SUCCESS(BCryptCreateHash(
          state_->provider.get(), state_->hash.receive(), state_->hashObject.data(),
          static_cast<ULONG>(state_->hashObject.size()), nullptr, 0, 0))) {
    throw OperationFailure("SHA-256 creation failed.");
  }
  state_->length = static_cast<DWORD>(digestSize(algorithm));
}

Digest::~Digest() = default;

void Digest::update(ByteView bytes) {
  if (!BCRYPT_SUCCESS(BCryptHashData(state_->hash.get(), const_cast<PUCHAR>(bytes.data()),
                                     static_cast<ULONG>(bytes.size()), 0))) {
    throw OperationFailure("SHA-256 update failed.");
  }
}

std::vector<std::uint8_t> Digest::finish() {
  std::vector<std::uint8_t> digest(state_->length);
  if (!BCRYPT_SUCCESS(BCryptFinishHash(state_->hash.get(), digest.data(), state_->length, 0))) {
    throw OperationFailure("SHA-256 verification failed.");
  }
  return digest;
}

bool verifySignature(const PublicKey& key,
                     DigestAlgorithm algorithm,
                     ByteView digest,
                     ByteView signature) {
  const UniqueHandle<KeyTraits> imported = importKey(key.subjectPublicKeyInfo);
  if (!imported.isValid()) {
    return false;
  }
  const auto digestBytes = const_cast<PUCHAR>(digest.data());
  if (key.kind == KeyKind::Rsa) {
    BCRYPT_PKCS1_PADDING_INFO padding{algorithmName(algorithm)};
    return BCRYPT_SUCCESS(BCryptVerifySignature(
        imported.get(), &padding, digestBytes, static_cast<ULONG>(digest.size()),
        const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()),
        BCRYPT_PAD_PKCS1));
  }
  std::optional<std::vector<std::uint8_t>> raw = ecdsaRawSignature(signature, key.ecdsaWidth);
  return raw && BCRYPT_SUCCESS(BCryptVerifySignature(imported.get(), nullptr, digestBytes,
                                                     static_cast<ULONG>(digest.size()), raw->data(),
                                                     static_cast<ULONG>(raw->size()), 0));
}

}  // namespace muvra
