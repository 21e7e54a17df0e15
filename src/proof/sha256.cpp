#include "proof/sha256.h"

namespace muvra {

std::string hexDigest(std::span<const std::uint8_t> digest) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const std::uint8_t byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

}  // namespace muvra
