#include "launcher/embedded_resources.h"

#include <windows.h>

namespace muvra {

std::optional<std::span<const std::uint8_t>> embeddedResource(int id) {
  HRSRC found = FindResourceExW(nullptr, RT_RCDATA, MAKEINTRESOURCEW(id),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (found == nullptr) {
    return std::nullopt;
  }
  const DWORD size = SizeofResource(nullptr, found);
  HGLOBAL loaded = LoadResource(nullptr, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) {
    return std::nullopt;
  }
  return std::span(static_cast<const std::uint8_t*>(bytes), size);
}

}  // namespace muvra
