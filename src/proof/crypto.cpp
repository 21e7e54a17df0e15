#include "proof/crypto.h"

#include "proof/der.h"

namespace muvra {

std::vector<std::uint8_t> digestOf(DigestAlgorithm algorithm, ByteView bytes) {
  Digest digest(algorithm);
  digest.update(bytes);
  return digest.finish();
}

std::optional<std::vector<std::uint8_t>> ecdsaRawSignature(ByteView signature, std::size_t width) {
  const std::optional<der::Bytes> pair = der::only(signature, der::kSequence);
  if (!pair) {
    return std::nullopt;
  }
  der::Reader reader(*pair);
  std::vector<std::uint8_t> raw;
  for (int i = 0; i < 2; ++i) {
    std::optional<der::Bytes> number = reader.contents(der::kInteger);
    if (!number) {
      return std::nullopt;
    }
    while (!number->empty() && number->front() == 0) {
      *number = number->subspan(1);  // the sign byte and leading zeros
    }
    if (number->size() > width) {
      return std::nullopt;
    }
    raw.insert(raw.end(), width - number->size(), 0);
    raw.insert(raw.end(), number->begin(), number->end());
  }
  if (!reader.atEnd()) {
    return std::nullopt;
  }
  return raw;
}

}  // namespace muvra
