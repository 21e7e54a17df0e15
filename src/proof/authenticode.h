#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <span>
#include <vector>

#include "proof/crypto.h"

// The walk of a Windows program's Authenticode signatures: where its certificate table is, and
// what each PKCS #7 signature in it states and who made it. The arithmetic is crypto.h's.
namespace muvra {

// Where a signed program keeps what its Authenticode digest leaves out.
struct SignatureTableLocation {
  std::uint64_t checksumOffset = 0;
  std::uint64_t directoryEntryOffset = 0;  // the certificate table's data directory entry
  std::uint64_t offset = 0;                // the certificate table itself
  std::uint64_t size = 0;
};

// The certificate table of a 64-bit Windows program of `fileSize` bytes, when it has one that lies
// after everything the loader maps (headers and sections, rounded to the file alignment) and ends
// the file exactly. Never throws.
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
// the table's first entry is not an Authenticode PKCS #7 signature that parses, when anything but
// fewer than 8 zeros follows that signature, or when a signer carries an unsigned attribute other
// than a nested signature or a time stamp. Never throws.
std::optional<std::vector<AuthenticodeSignature>> readSignatures(ByteView table);

}  // namespace muvra
