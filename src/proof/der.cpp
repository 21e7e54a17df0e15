#include "proof/der.h"

#include <algorithm>

namespace muvra::der {

std::optional<Element> Reader::next() {
  if (rest_.size() < 2) {
    return std::nullopt;
  }
  const std::uint8_t tag = rest_[0];
  if ((tag & 0x1F) == 0x1F) {
    return std::nullopt;  // multi-byte tags never occur in what is read here
  }
  std::size_t length = rest_[1];
  std::size_t header = 2;
  if (length & 0x80) {
    const std::size_t width = length & 0x7F;
    if (width == 0 || width > 4 || rest_.size() < 2 + width) {
      return std::nullopt;  // indefinite (BER) or absurd
    }
    length = 0;
    for (std::size_t i = 0; i < width; ++i) {
      length = (length << 8) | rest_[2 + i];
    }
    header += width;
  }
  if (length > rest_.size() - header) {
    return std::nullopt;
  }
  Element element{tag, rest_.first(header + length), rest_.subspan(header, length)};
  rest_ = rest_.subspan(header + length);
  return element;
}

std::optional<Element> Reader::next(std::uint8_t tag) {
  if (rest_.empty() || rest_[0] != tag) {
    return std::nullopt;
  }
  return next();
}

std::optional<Bytes> Reader::contents(std::uint8_t tag) {
  const std::optional<Element> element = next(tag);
  if (!element) {
    return std::nullopt;
  }
  return element->contents;
}

std::optional<Bytes> only(Bytes bytes, std::uint8_t tag) {
  Reader reader(bytes);
  const std::optional<Bytes> contents = reader.contents(tag);
  if (!contents || !reader.atEnd()) {
    return std::nullopt;
  }
  return contents;
}

bool equal(Bytes left, Bytes right) {
  return std::ranges::equal(left, right);
}

}  // namespace muvra::der
