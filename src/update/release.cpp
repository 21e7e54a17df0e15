#include "update/release.h"

#include <cmath>

#include "base/failure.h"
#include "base/text.h"
#include "base/configuration.h"
#include "update/json_reader.h"

namespace muvra {
namespace {

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::uint64_t checkedSize(double size) {
  const bool inRange = std::isfinite(size) && size >= static_cast<double>(kMinimumAssetSize) &&
                       size <= static_cast<double>(kMaximumAssetSize);
  if (!inRange || static_cast<double>(static_cast<std::uint64_t>(size)) != size) {
    throw OperationFailure("The release asset size is invalid (maximum 64 MB).");
  }
  return static_cast<std::uint64_t>(size);
}

std::string normalizedDigest(std::string_view raw) {
  constexpr std::string_view prefix = "sha256:";
  bool valid = raw.size() == prefix.size() + 64 && raw.substr(0, prefix.size()) == prefix;
  for (std::size_t i = prefix.size(); valid && i < raw.size(); ++i) {
    valid = isHexDigit(raw[i]);
  }
  if (!valid) {
    throw OperationFailure(
        "The asset has no valid GitHub SHA-256 digest. Upload a new release asset.");
  }
  std::string digest(raw.substr(prefix.size()));
  for (char& c : digest) {
    c = asciiLower(c);
  }
  return digest;
}

}  // namespace

std::string latestReleaseUrl() {
  return "https://" + std::string(config::ApiHost) + "/repos/" +
         std::string(config::RepositoryOwner) + "/" + std::string(config::RepositoryName) +
         "/releases/latest";
}

std::string assetDownloadPrefix() {
  return "https://" + std::string(config::WebHost) + "/" + std::string(config::RepositoryOwner) +
         "/" + std::string(config::RepositoryName) + "/releases/download/";
}

std::string releaseTextFromBody(std::string_view body) {
  return sanitizeUtf8(untilFirstNul(body));
}

ReleaseInfo parseRelease(std::string_view document) {
  const json::JsonObject release = json::JsonObject::parse(document);
  if (release.getNamedBoolean("draft", false) || release.getNamedBoolean("prerelease", false)) {
    throw OperationFailure("A stable published release is required.");
  }
  ReleaseInfo info;
  info.tag = release.getNamedString("tag_name");
  if (info.tag.empty()) {
    throw OperationFailure("The release has no version tag.");
  }

  const json::JsonArray assets = release.getNamedArray("assets");
  int matches = 0;
  std::string rawDigest;
  for (std::size_t i = 0; i < assets.size(); ++i) {
    const json::JsonObject asset = assets.getObjectAt(i);
    if (!equalsIgnoringAsciiCase(asset.getNamedString("name"), config::AssetName)) {
      continue;
    }
    ++matches;
    info.downloadUrl = asset.getNamedString("browser_download_url");
    // Assets uploaded before GitHub published digests carry "digest": null.
    rawDigest = asset.isNull("digest") ? "" : asset.getNamedString("digest", "");
    info.size = checkedSize(asset.getNamedNumber("size"));
  }
  if (matches != 1) {
    throw OperationFailure(
        "Publish one release asset named muvra.exe (not just a source-code ZIP).");
  }

  const std::string prefix = assetDownloadPrefix();
  if (!startsWithIgnoringAsciiCase(info.downloadUrl, prefix)) {
    throw OperationFailure("The asset download URL does not belong to the configured repository.");
  }
  info.sha256 = normalizedDigest(rawDigest);
  return info;
}

}  // namespace muvra
