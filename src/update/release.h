#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace muvra {

// The accepted release. Exists only whole: parseRelease returns it after every rule passed.
struct ReleaseInfo {
  std::string tag;
  std::string downloadUrl;
  std::string sha256;  // 64 lower-case hexadecimal digits
  std::uint64_t size = 0;
};

inline constexpr std::uint64_t kMinimumAssetSize = 4096;
inline constexpr std::uint64_t kMaximumAssetSize = 67108864;
inline constexpr std::uint64_t kReleaseDocumentLimit = 2097152;

// "https://" + API host + "/repos/" + owner + "/" + name + "/releases/latest"
std::string latestReleaseUrl();

// "https://" + web host + "/" + owner + "/" + name + "/releases/download/"
std::string assetDownloadPrefix();

// A response body as the text parseRelease takes: invalid UTF-8 replaced, cut at the first NUL.
std::string releaseTextFromBody(std::string_view body);

// Throws OperationFailure for a release that breaks a rule, PlatformError for a malformed document.
ReleaseInfo parseRelease(std::string_view document);

}  // namespace muvra
