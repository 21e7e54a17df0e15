#include "base/text.h"

#include <cstdint>
#include <optional>

#include "base/failure.h"

namespace muvra {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
  char32_t codePoint;
  std::size_t length;  // bytes consumed
  bool valid;
};

// Decodes one sequence at `pos`. An ill-formed sequence consumes its maximal subpart
// (at least one byte), as the Unicode standard recommends for replacement.
Decoded decodeOne(std::string_view bytes, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(bytes[pos]);
  if (lead < 0x80) {
    return {lead, 1, true};
  }
  std::size_t length = 0;
  char32_t value = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0)
      low = 0xA0;
    if (lead == 0xED)
      high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0)
      low = 0x90;
    if (lead == 0xF4)
      high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {kReplacement, 1, false};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (pos + i >= bytes.size()) {
      return {kReplacement, i, false};
    }
    const auto byte = static_cast<unsigned char>(bytes[pos + i]);
    const unsigned char min = i == 1 ? low : 0x80;
    const unsigned char max = i == 1 ? high : 0xBF;
    if (byte < min || byte > max) {
      return {kReplacement, i, false};
    }
    value = (value << 6) | (byte & 0x3F);
  }
  return {value, length, true};
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    const char32_t offset = cp - 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
  }
}

template <typename Append>
bool forEachCodePoint(std::string_view bytes, bool lossy, Append append) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    const Decoded decoded = decodeOne(bytes, pos);
    if (!decoded.valid && !lossy) {
      return false;
    }
    append(decoded.codePoint);
    pos += decoded.length;
  }
  return true;
}

}  // namespace

std::string sanitizeUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  forEachCodePoint(bytes, true, [&](char32_t cp) { appendUtf8(out, cp); });
  return out;
}

std::u16string utf8ToUtf16Lossy(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  forEachCodePoint(bytes, true, [&](char32_t cp) { appendUtf16(out, cp); });
  return out;
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  if (!forEachCodePoint(text, false, [&](char32_t cp) { appendUtf16(out, cp); })) {
    throw OperationFailure("Invalid UTF-8 text.");
  }
  return out;
}

namespace {

// Appends the UTF-8 form of `text`; an unpaired surrogate becomes U+FFFD, or fails when strict.
bool appendUtf16AsUtf8(std::string& out, std::u16string_view text, bool lossy) {
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool paired =
        high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (paired) {
      appendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      if (!lossy) {
        return false;
      }
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, unit);
    }
  }
  return true;
}

}  // namespace

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  if (!appendUtf16AsUtf8(out, text, false)) {
    throw OperationFailure("Invalid UTF-16 text.");
  }
  return out;
}

std::string utf16ToUtf8Lossy(std::u16string_view text) {
  std::string out;
  appendUtf16AsUtf8(out, text, true);
  return out;
}

bool isValidUtf8(std::string_view bytes) {
  return forEachCodePoint(bytes, false, [](char32_t) {});
}

std::size_t utf16Length(std::string_view text) {
  std::size_t units = 0;
  forEachCodePoint(text, true, [&](char32_t cp) { units += cp >= 0x10000 ? 2 : 1; });
  return units;
}

std::string_view untilFirstNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace muvra
