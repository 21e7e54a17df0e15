#include "proof/crypto.h"

#include "proof/der.h"

namespace muvra {

std::vector<std::uint8_t> digestOf(DigestAlgorithm algorithm, ByteView bytes) {
  Digest digest(algorithm);
  digest.update(bytes);
  return digest.finish();
}

namespace {

// A DER length: short form below 128, otherwise the fewest big-endian bytes.
void appendLength(std::vector<std::uint8_t>& out, std::size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<std::uint8_t>(length));
    return;
  }
  std::vector<std::uint8_t> bytes;
  for (; length != 0; length >>= 8) {
    bytes.insert(bytes.begin(), static_cast<std::uint8_t>(length & 0xFF));
  }
  out.push_back(static_cast<std::uint8_t>(0x80 | bytes.size()));
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// The one DER encoding of a non-negative INTEGER with `magnitude` (big-endian, no leading zeros).
void appendInteger(std::vector<std::uint8_t>& out, ByteView magnitude) {
  const bool signByte = magnitude.empty() || (magnitude.front() & 0x80) != 0;
  out.push_back(der::kInteger);
  appendLength(out, magnitude.size() + (signByte ? 1 : 0));
  if (signByte) {
    out.push_back(0);
  }
  out.insert(out.end(), magnitude.begin(), magnitude.end());
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ecdsaRawSignature(ByteView signature, std::size_t width) {
  const std::optional<der::Bytes> pair = der::only(signature, der::kSequence);
  if (!pair) {
    return std::nullopt;
  }
  der::Reader reader(*pair);
  std::vector<std::uint8_t> raw;
  std::vector<std::uint8_t> integers;
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
    appendInteger(integers, *number);
  }
  // Only the one DER encoding of r and s is a signature, as OpenSSL holds: a signature re-encoded
  // (a negative number, extra zeros, a longer length) is a different byte string.
  std::vector<std::uint8_t> canonical{der::kSequence};
  appendLength(canonical, integers.size());
  canonical.insert(canonical.end(), integers.begin(), integers.end());
  if (!reader.atEnd() || !der::equal(canonical, signature)) {
    return std::nullopt;
  }
  return raw;
}

}  // namespace muvra
