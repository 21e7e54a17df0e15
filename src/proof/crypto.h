#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace muvra {

using ByteView = std::span<const std::uint8_t>;

// The digests a signature may use; weaker ones (SHA-1, MD5) have no place here.
enum class DigestAlgorithm { Sha256, Sha384, Sha512 };

// A digest computed block by block with the platform's facility. Throws OperationFailure.
class Digest {
 public:
  explicit Digest(DigestAlgorithm algorithm);
  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  void update(ByteView bytes);
  std::vector<std::uint8_t> finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

std::vector<std::uint8_t> digestOf(DigestAlgorithm algorithm, ByteView bytes);

enum class KeyKind { Rsa, Ecdsa };

// A signer's public key as its certificate holds it.
struct PublicKey {
  ByteView subjectPublicKeyInfo;  // the DER SubjectPublicKeyInfo
  KeyKind kind = KeyKind::Rsa;
  std::size_t ecdsaWidth = 0;  // bytes of each of r and s for the key's curve
};

// True when `signature` (PKCS #1 v1.5 for RSA, a DER Ecdsa-Sig-Value for ECDSA) signs `digest`
// with `key`. Never throws: what cannot be checked does not verify.
bool verifySignature(const PublicKey& key,
                     DigestAlgorithm algorithm,
                     ByteView digest,
                     ByteView signature);

// r and s of a DER Ecdsa-Sig-Value, each as `width` big-endian bytes; empty unless the value is
// in the one DER encoding of its numbers (what OpenSSL accepts).
std::optional<std::vector<std::uint8_t>> ecdsaRawSignature(ByteView signature, std::size_t width);

}  // namespace muvra
