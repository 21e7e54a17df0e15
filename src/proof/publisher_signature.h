#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <span>
#include <string>
#include <vector>

#include "proof/authenticode.h"
#include "proof/crypto.h"
#include "proof/version_resource.h"

namespace muvra {

inline constexpr const char* kNotSignedByPublisher =
    "The update is not signed by the publisher of Muvra. Your previous installation was kept.";

// The SHA-256 of a whole file and, read in the same pass, whether the publisher made it: one of
// its signatures holds and was made with a key whose SubjectPublicKeyInfo has one of `pins`
// (SHA-256, hex) as digest, and its version resource names it as the asset ("muvra.exe").
struct SignedFileProof {
  std::string sha256;
  bool signedByPublisher = false;
  std::optional<VersionResource> versionResource;
};

// Reads `file`, `size` bytes, through the stream it is open as. Without pins it only digests.
// Throws OperationFailure when the file cannot be read.
SignedFileProof proveSignedFile(std::istream& file,
                                std::uint64_t size,
                                std::span<const std::string> pins);
SignedFileProof proveSignedFile(const std::filesystem::path& path,
                                std::span<const std::string> pins);

}  // namespace muvra
