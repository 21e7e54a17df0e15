#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace muvra::der {

using Bytes = std::span<const std::uint8_t>;

inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kBitString = 0x03;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kNull = 0x05;
inline constexpr std::uint8_t kObjectId = 0x06;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kSet = 0x31;

// A context-specific tag [n], constructed: EXPLICIT fields and IMPLICIT sets or sequences.
constexpr std::uint8_t contextTag(std::uint8_t number) {
  return static_cast<std::uint8_t>(0xA0 | number);
}

// One encoded element: `whole` is its tag, length and contents; `contents` the contents alone.
struct Element {
  std::uint8_t tag = 0;
  Bytes whole;
  Bytes contents;
};

// Reads the elements of DER one after the other. Only the definite lengths and one-byte tags of
// DER are accepted; anything else, or a length past the end, is malformed and read as nothing.
class Reader {
 public:
  explicit Reader(Bytes bytes) : rest_(bytes) {}

  bool atEnd() const { return rest_.empty(); }
  // The next element, whatever its tag; empty at the end or when it is malformed.
  std::optional<Element> next();
  // The next element when it has `tag`; otherwise empty and nothing is consumed.
  std::optional<Element> next(std::uint8_t tag);
  // The next element's contents when it has `tag`.
  std::optional<Bytes> contents(std::uint8_t tag);

 private:
  Bytes rest_;
};

// The contents of the one element `bytes` holds, when it has `tag` and nothing follows it.
std::optional<Bytes> only(Bytes bytes, std::uint8_t tag);

bool equal(Bytes left, Bytes right);

}  // namespace muvra::der
