#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <span>
#include <string>
#include <vector>

#include "update/authenticode.h"
#include "update/crypto.h"

namespace muvra {

inline constexpr const char* kNotSignedByPublisher =
    "The update is not signed by the publisher of Muvra. Your previous installation was kept.";

// The SHA-256 of a whole file and, read in the same pass, whether one of its signatures holds
// and was made with a key whose SubjectPublicKeyInfo has one of `pins` (SHA-256, hex) as digest.
struct SignedFileProof {
  std::string sha256;
  bool signedByPublisher = false;
};

// Reads `file`, `size` bytes, through the stream it is open as. Without pins it only digests.
// Throws OperationFailure when the file cannot be read.
SignedFileProof proveSignedFile(std::istream& file,
                                std::uint64_t size,
                                std::span<const std::string> pins);
SignedFileProof proveSignedFile(const std::filesystem::path& path,
                                std::span<const std::string> pins);

}  // namespace muvra
