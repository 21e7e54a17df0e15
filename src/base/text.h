#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text inside the program is UTF-8; these convert at the edges where UTF-16 is needed and
// count UTF-16 code units the way Windows does, so both platforms give the same answers.
namespace muvra {

// Replaces every ill-formed sequence with U+FFFD (one per maximal ill-formed subpart).
std::string sanitizeUtf8(std::string_view bytes);
std::u16string utf8ToUtf16Lossy(std::string_view bytes);

// Strict conversions: throw OperationFailure("Invalid UTF-8 text.") or ("Invalid UTF-16 text.").
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);

// Replaces every unpaired surrogate with U+FFFD.
std::string utf16ToUtf8Lossy(std::u16string_view text);

bool isValidUtf8(std::string_view bytes);

// Number of UTF-16 code units of valid UTF-8 text.
std::size_t utf16Length(std::string_view text);

// The text up to (not including) its first NUL character.
std::string_view untilFirstNul(std::string_view text);

// Comparisons that treat A-Z as a-z and every other byte as itself, whatever the locale.
char asciiLower(char c);
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

}  // namespace muvra
