#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

namespace muvra {

// UTF-8 as the wide strings of the Windows API; what is not UTF-8 becomes U+FFFD.
inline std::wstring wideText(std::string_view text) {
  const std::u16string units = utf8ToUtf16Lossy(text);
  return std::wstring(units.begin(), units.end());
}

}  // namespace muvra
