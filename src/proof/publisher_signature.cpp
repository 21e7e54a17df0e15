#include "proof/publisher_signature.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <future>
#include <map>

#include "base/configuration.h"
#include "base/failure.h"
#include "base/text.h"
#include "proof/der.h"
#include "proof/pe_format.h"
#include "proof/sha256.h"

namespace muvra {

namespace {

// Blocks of the proof's read: large enough that handing each to another core costs nothing.
constexpr std::size_t kProofBlock = 1 << 20;

bool isPinned(const PublicKey& key, std::span<const std::string> pins) {
  const std::string pin = hexDigest(digestOf(DigestAlgorithm::Sha256, key.subjectPublicKeyInfo));
  return std::ranges::find(pins, pin) != pins.end();
}

// Whether `signature`, whose key is pinned, states the program's digest and holds.
bool holds(const AuthenticodeSignature& signature,
           const std::map<DigestAlgorithm, std::vector<std::uint8_t>>& fileDigests) {
  const DigestAlgorithm signer = *signature.signerDigestAlgorithm;
  return der::equal(signature.fileDigest, fileDigests.at(*signature.fileDigestAlgorithm)) &&
         signature.contentTypeIsIndirectData &&
         der::equal(signature.messageDigest, digestOf(signer, signature.content)) &&
         verifySignature(signature.signerKey, signer, digestOf(signer, signature.signedAttributes),
                         signature.signature);
}

// Feeds the Authenticode digest the block read at `offset`, leaving out what it excludes.
void updateExcluding(Digest& digest,
                     ByteView block,
                     std::uint64_t offset,
                     const SignatureTableLocation& table) {
  const std::array<std::pair<std::uint64_t, std::uint64_t>, 3> excluded{
      {{table.checksumOffset, 4}, {table.directoryEntryOffset, 8}, {table.offset, table.size}}};
  std::uint64_t at = offset;
  const std::uint64_t end = offset + block.size();
  for (const auto& [start, size] : excluded) {
    if (start >= end || start + size <= at) {
      continue;
    }
    if (start > at) {
      digest.update(block.subspan(at - offset, start - at));
    }
    at = std::min(end, start + size);
  }
  if (at < end) {
    digest.update(block.subspan(at - offset));
  }
}

// The table's signatures that state strong digests and were made with a pinned key.
std::vector<AuthenticodeSignature> pinnedSignatures(ByteView table,
                                                    std::span<const std::string> pins) {
  std::vector<AuthenticodeSignature> pinned;
  std::optional<std::vector<AuthenticodeSignature>> signatures = readSignatures(table);
  if (!signatures) {
    return pinned;
  }
  for (AuthenticodeSignature& signature : *signatures) {
    if (signature.fileDigestAlgorithm && signature.signerDigestAlgorithm &&
        isPinned(signature.signerKey, pins)) {
      pinned.push_back(std::move(signature));
    }
  }
  return pinned;
}

// Reads the file once: the whole file's SHA-256 (returned in hex) and, on another core beside it,
// the Authenticode digests in `authenticode`, which leave out what `table` names.
std::string digestInOnePass(std::istream& file,
                            std::uint64_t size,
                            const std::optional<SignatureTableLocation>& table,
                            std::map<DigestAlgorithm, Digest>& authenticode) {
  Digest whole(DigestAlgorithm::Sha256);
  file.clear();
  file.seekg(0);
  std::vector<std::uint8_t> block(kProofBlock);
  std::uint64_t offset = 0;
  while (file) {
    file.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
    const ByteView read(block.data(), static_cast<std::size_t>(file.gcount()));
    std::future<void> beside;
    if (!authenticode.empty()) {
      beside = std::async(std::launch::async, [&] {
        for (auto& [algorithm, digest] : authenticode) {
          updateExcluding(digest, read, offset, *table);
        }
      });
    }
    whole.update(read);
    if (beside.valid()) {
      beside.get();
    }
    offset += read.size();
  }
  if (!file.eof() || offset != size) {
    throw OperationFailure("Could not read the downloaded file.");
  }
  return hexDigest(whole.finish());
}

}  // namespace

SignedFileProof proveSignedFile(const std::filesystem::path& path,
                                std::span<const std::string> pins) {
  std::ifstream file(path, std::ios::binary);
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(path, error);
  if (!file.is_open() || error) {
    throw OperationFailure("Could not open the update file. Check folder permissions.");
  }
  return proveSignedFile(file, size, pins);
}

SignedFileProof proveSignedFile(std::istream& file,
                                std::uint64_t size,
                                std::span<const std::string> pins) {
  const std::optional<SignatureTableLocation> location =
      pins.empty() ? std::nullopt : findSignatureTable(file, size);
  std::vector<std::uint8_t> table;  // what the candidates' views point into
  std::vector<AuthenticodeSignature> candidates;
  if (location) {
    table.resize(location->size);
    if (pe::readAt(file, location->offset, table)) {
      candidates = pinnedSignatures(table, pins);
    }
  }
  std::map<DigestAlgorithm, Digest> authenticode;
  for (const AuthenticodeSignature& signature : candidates) {
    authenticode.try_emplace(*signature.fileDigestAlgorithm, *signature.fileDigestAlgorithm);
  }
  const std::string sha256 = digestInOnePass(file, size, location, authenticode);
  std::map<DigestAlgorithm, std::vector<std::uint8_t>> fileDigests;
  for (auto& [algorithm, digest] : authenticode) {
    fileDigests.emplace(algorithm, digest.finish());
  }
  // Only the publisher's proof reads the version: builds without keys record none.
  SignedFileProof proof{sha256, false, pins.empty() ? std::nullopt : readVersionResource(file)};
  proof.signedByPublisher =
      proof.versionResource &&
      equalsIgnoringAsciiCase(proof.versionResource->originalFilename, config::AssetName) &&
      std::ranges::any_of(candidates, [&](const AuthenticodeSignature& signature) {
        return holds(signature, fileDigests);
      });
  return proof;
}

}  // namespace muvra
