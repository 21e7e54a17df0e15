#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "update/crypto.h"

namespace muvra {

inline constexpr const char* kNotSignedByPublisher =
    "The update is not signed by the publisher of Muvra. Your previous installation was kept.";

// Where a signed program keeps what its Authenticode digest leaves out.
struct SignatureTableLocation {
  std::uint64_t checksumOffset = 0;
  std::uint64_t directoryEntryOffset = 0;  // the certificate table's data directory entry
  std::uint64_t offset = 0;                // the certificate table itself
  std::uint64_t size = 0;
};

// The certificate table of a 64-bit Windows program of `fileSize` bytes, when it has one that lies
// inside the file after the sections. Never throws.
std::optional<SignatureTableLocation> findSignatureTable(std::istream& file,
                                                         std::uint64_t fileSize);

// One Authenticode signature: the program's digest it states and its signer. The views point
// into the certificate table it was read from.
struct AuthenticodeSignature {
  std::optional<DigestAlgorithm> fileDigestAlgorithm;  // empty for SHA-1, MD5 and the unknown
  ByteView fileDigest;
  ByteView content;  // the SpcIndirectDataContent's contents, which the message digest covers
  std::optional<DigestAlgorithm> signerDigestAlgorithm;
  std::vector<std::uint8_t> signedAttributes;  // as the signer signed them (a SET)
  ByteView messageDigest;
  bool contentTypeIsIndirectData = false;
  ByteView signature;
  PublicKey signerKey;
};

// The signatures in a certificate table: the primary first, then those nested in it. Empty when
// the table's first entry is not an Authenticode PKCS #7 signature that parses. Never throws.
std::optional<std::vector<AuthenticodeSignature>> readSignatures(ByteView table);

// The SHA-256 of a whole file and, read in the same pass, whether one of its signatures holds
// and was made with a key whose SubjectPublicKeyInfo has one of `pins` (SHA-256, hex) as digest.
struct SignedFileProof {
  std::string sha256;
  bool signedByPublisher = false;
};

// Throws OperationFailure when the file cannot be read.
SignedFileProof proveSignedFile(const std::filesystem::path& path,
                                std::span<const std::string> pins);

}  // namespace muvra
