// A response body from GitHub: its text is prepared and parsed. The result is an accepted release
// that keeps every rule, or one of the two failure kinds; nothing else may escape.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/failure.h"
#include "base/text.h"
#include "require.h"
#include "update/release.h"

namespace {

using fuzz::require;

bool isLowerHex(std::string_view text) {
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  try {
    const muvra::ReleaseInfo release = muvra::parseRelease(muvra::releaseTextFromBody(body));
    require(!release.tag.empty());
    require(release.sha256.size() == 64 && isLowerHex(release.sha256));
    require(release.size >= muvra::kMinimumAssetSize && release.size <= muvra::kMaximumAssetSize);
    // GitHub treats letter case in the owner and repository names as equal.
    require(muvra::startsWithIgnoringAsciiCase(release.downloadUrl, muvra::assetDownloadPrefix()));
  } catch (const muvra::OperationFailure& failure) {
    require(*failure.what() != '\0');
  } catch (const muvra::PlatformError&) {
  }
  return 0;
}
