#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/text.h"

namespace muvra {

// Paths from and to UTF-8 program text. On Windows a path is UTF-16, elsewhere bytes.
inline std::filesystem::path pathFromUtf8(std::string_view text) {
#ifdef _WIN32
  const std::u16string wide = utf8ToUtf16Lossy(text);
  return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
#else
  return std::filesystem::path(std::string(text));
#endif
}

inline std::string pathToUtf8(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::wstring& wide = path.native();
  return utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
#else
  return path.native();
#endif
}

}  // namespace muvra
