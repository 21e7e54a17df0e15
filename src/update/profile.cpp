#include "update/profile.h"

#include <cstdio>

#include "base/process.h"
#include "base/text.h"

namespace muvra {

namespace {

// The path's UTF-16 code units, as Windows holds them.
std::u16string utf16Units(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::wstring& wide = path.native();
  return std::u16string(wide.begin(), wide.end());
#else
  return utf8ToUtf16Lossy(path.native());
#endif
}

std::uint64_t caseFoldedFnv1a(std::u16string_view units) {
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (char16_t unit : units) {
    if (unit >= u'A' && unit <= u'Z') {
      unit = static_cast<char16_t>(unit + 32);
    }
    hash ^= unit;
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

std::string cleanedStem(const std::filesystem::path& executable) {
  constexpr std::size_t kMaximumStem = 40;
  std::string stem;
  for (const char16_t unit : utf16Units(executable.stem())) {
    const bool kept = (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
                      (unit >= u'0' && unit <= u'9') || unit == u'-';
    stem.push_back(kept ? static_cast<char>(unit) : '_');
    if (stem.size() == kMaximumStem) {
      break;
    }
  }
  return stem;
}

}  // namespace

std::string formatStatusCode(std::uint32_t code) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

std::string profileKey(const std::filesystem::path& executable) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%llx",
                static_cast<unsigned long long>(caseFoldedFnv1a(utf16Units(executable))));
  return cleanedStem(executable) + "-" + hash;
}

std::filesystem::path profileFolderFor(const std::filesystem::path& root,
                                       const std::filesystem::path& executable,
                                       unsigned attempt) {
  const std::filesystem::path keyed = root / profileKey(executable);
  if (attempt == 0) {
    return keyed / "Default";
  }
  return keyed /
         ("Recovery-" + std::to_string(processId()) + "-" + std::to_string(tickMilliseconds()));
}

}  // namespace muvra
