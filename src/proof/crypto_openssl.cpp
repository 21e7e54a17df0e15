#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

#include "base/failure.h"
#include "base/shared_library.h"
#include "proof/crypto.h"

namespace muvra {
namespace {

// OpenSSL's digest and signature functions, loaded on first use: the window starts without
// OpenSSL.
struct OpenSslCrypto {
  OpenSslCrypto();

  SharedLibrary library{"libcrypto.so.3", "libssl3"};
  decltype(&EVP_MD_CTX_new) newContext;
  decltype(&EVP_MD_CTX_free) freeContext;
  decltype(&EVP_sha256) sha256;
  decltype(&EVP_sha384) sha384;
  decltype(&EVP_sha512) sha512;
  decltype(&EVP_DigestInit_ex) digestInit;
  decltype(&EVP_DigestUpdate) digestUpdate;
  decltype(&EVP_DigestFinal_ex) digestFinal;
  decltype(&d2i_PUBKEY) readPublicKey;
  decltype(&EVP_PKEY_free) freeKey;
  decltype(&EVP_PKEY_CTX_new) newKeyContext;
  decltype(&EVP_PKEY_CTX_free) freeKeyContext;
  decltype(&EVP_PKEY_verify_init) verifyInit;
  decltype(&EVP_PKEY_CTX_set_signature_md) setSignatureDigest;
  decltype(&EVP_PKEY_verify) verify;
};

OpenSslCrypto::OpenSslCrypto() {
  library.bind(newContext, "EVP_MD_CTX_new");
  library.bind(freeContext, "EVP_MD_CTX_free");
  library.bind(sha256, "EVP_sha256");
  library.bind(sha384, "EVP_sha384");
  library.bind(sha512, "EVP_sha512");
  library.bind(digestInit, "EVP_DigestInit_ex");
  library.bind(digestUpdate, "EVP_DigestUpdate");
  library.bind(digestFinal, "EVP_DigestFinal_ex");
  library.bind(readPublicKey, "d2i_PUBKEY");
  library.bind(freeKey, "EVP_PKEY_free");
  library.bind(newKeyContext, "EVP_PKEY_CTX_new");
  library.bind(freeKeyContext, "EVP_PKEY_CTX_free");
  library.bind(verifyInit, "EVP_PKEY_verify_init");
  library.bind(setSignatureDigest, "EVP_PKEY_CTX_set_signature_md");
  library.bind(verify, "EVP_PKEY_verify");
}

// Throws OperationFailure when libcrypto cannot be loaded.
const OpenSslCrypto& openSslCrypto() {
  static const OpenSslCrypto loaded;
  return loaded;
}

const EVP_MD* messageDigest(DigestAlgorithm algorithm) {
  const OpenSslCrypto& api = openSslCrypto();
  switch (algorithm) {
    case DigestAlgorithm::Sha256:
      return api.sha256();
    case DigestAlgorithm::Sha384:
      return api.sha384();
    case DigestAlgorithm::Sha512:
      return api.sha512();
  }
  return nullptr;
}

struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { openSslCrypto().freeContext(context); }
};

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { openSslCrypto().freeKey(key); }
};

struct KeyContextDeleter {
  void operator()(EVP_PKEY_CTX* context) const { openSslCrypto().freeKeyContext(context); }
};

}  // namespace

struct Digest::State {
  std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context;
};

Digest::Digest(DigestAlgorithm algorithm) : state_(std::make_unique<State>()) {
  const OpenSslCrypto& api = openSslCrypto();
  state_->context.reset(api.newContext());
  if (!state_->context ||
      api.digestInit(state_->context.get(), messageDigest(algorithm), nullptr) != 1) {
    throw OperationFailure("SHA-256 initialization failed.");
  }
}

Digest::~Digest() = default;

void Digest::update(ByteView bytes) {
  if (openSslCrypto().digestUpdate(state_->context.get(), bytes.data(), bytes.size()) != 1) {
    throw OperationFailure("SHA-256 update failed.");
  }
}

std::vector<std::uint8_t> Digest::finish() {
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (openSslCrypto().digestFinal(state_->context.get(), digest.data(), &length) != 1) {
    throw OperationFailure("SHA-256 verification failed.");
  }
  digest.resize(length);
  return digest;
}

bool verifySignature(const PublicKey& key,
                     DigestAlgorithm algorithm,
                     ByteView digest,
                     ByteView signature) {
  try {
    const OpenSslCrypto& api = openSslCrypto();
    const unsigned char* cursor = key.subjectPublicKeyInfo.data();
    const std::unique_ptr<EVP_PKEY, KeyDeleter> publicKey(
        api.readPublicKey(nullptr, &cursor, static_cast<long>(key.subjectPublicKeyInfo.size())));
    if (!publicKey) {
      return false;
    }
    const std::unique_ptr<EVP_PKEY_CTX, KeyContextDeleter> context(
        api.newKeyContext(publicKey.get(), nullptr));
    // For RSA the digest's algorithm is checked inside the PKCS #1 block.
    return context && api.verifyInit(context.get()) == 1 &&
           api.setSignatureDigest(context.get(), messageDigest(algorithm)) == 1 &&
           api.verify(context.get(), signature.data(), signature.size(), digest.data(),
                      digest.size()) == 1;
  } catch (const OperationFailure&) {
    return false;
  }
}

}  // namespace muvra
