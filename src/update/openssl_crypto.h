#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "base/shared_library.h"

namespace muvra {

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

// Throws OperationFailure when libcrypto cannot be loaded.
const OpenSslCrypto& openSslCrypto();

struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { openSslCrypto().freeContext(context); }
};

}  // namespace muvra
