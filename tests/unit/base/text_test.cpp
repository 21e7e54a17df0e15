#include "base/text.h"

#include <gtest/gtest.h>

#include "base/failure.h"
#include "support/case_name.h"

namespace muvra {
namespace {

struct LossyCase {
  const char* name;
  std::string input;
  std::string expected;
};

MUVRA_PRINTS_CASE_NAME(LossyCase)

class SanitizeUtf8Test : public ::testing::TestWithParam<LossyCase> {};

TEST_P(SanitizeUtf8Test, ReplacesEachMaximalIllFormedSubpart) {
  EXPECT_EQ(sanitizeUtf8(GetParam().input), GetParam().expected);
  EXPECT_TRUE(isValidUtf8(sanitizeUtf8(GetParam().input)));
}

const std::string kFFFD = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Cases,
    SanitizeUtf8Test,
    ::testing::Values(LossyCase{"ascii", "plain", "plain"},
                      LossyCase{"twoByte", "caf\xC3\xA9", "caf\xC3\xA9"},
                      LossyCase{"fourByte", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
                      LossyCase{"loneContinuation", "a\x80z", "a" + kFFFD + "z"},
                      LossyCase{"overlongTwoByte", "\xC0\xAF", kFFFD + kFFFD},
                      LossyCase{"truncatedThreeByte", "\xE2\x82", kFFFD},
                      LossyCase{"truncatedThenAscii", "\xE2\x82x", kFFFD + "x"},
                      LossyCase{"surrogateEncoded", "\xED\xA0\x80", kFFFD + kFFFD + kFFFD},
                      LossyCase{"aboveMaximum", "\xF4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD},
                      LossyCase{"invalidLead", "\xFF", kFFFD},
                      LossyCase{"nulKept", std::string("a\0b", 3), std::string("a\0b", 3)}),
    testing::CaseName());

TEST(Utf16ConversionTest, RoundTripsAllPlanes) {
  const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  const std::u16string wide = utf8ToUtf16(text);
  EXPECT_EQ(wide, (std::u16string{u'A', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(utf16ToUtf8(wide), text);
  EXPECT_EQ(utf16Length(text), 5u);
}

TEST(Utf16ConversionTest, StrictConversionsRefuseBadInput) {
  EXPECT_THROW(utf8ToUtf16("\xC3"), OperationFailure);
  EXPECT_THROW(utf16ToUtf8(std::u16string{0xD800}), OperationFailure);
  EXPECT_THROW(utf16ToUtf8(std::u16string{0xDC00, u'a'}), OperationFailure);
  EXPECT_EQ(utf8ToUtf16Lossy("a\xFF"), (std::u16string{u'a', 0xFFFD}));
}

TEST(Utf16ConversionTest, LossyConversionReplacesUnpairedSurrogates) {
  EXPECT_EQ(utf16ToUtf8Lossy(std::u16string{u'-', 0xD800, u'a'}),
            "-\xEF\xBF\xBD"
            "a");
  EXPECT_EQ(utf16ToUtf8Lossy(std::u16string{0xDC00}), "\xEF\xBF\xBD");
  EXPECT_EQ(utf16ToUtf8Lossy(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
}

TEST(UntilFirstNulTest, CutsAtTheFirstNul) {
  EXPECT_EQ(untilFirstNul(std::string_view("ab\0cd", 5)), "ab");
  EXPECT_EQ(untilFirstNul(std::string_view("\0x", 2)), "");
  EXPECT_EQ(untilFirstNul("none"), "none");
}

TEST(IgnoringAsciiCaseTest, FoldsOnlyAsciiLetters) {
  EXPECT_TRUE(equalsIgnoringAsciiCase("Muvra-App/X", "muvra-app/x"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("muvra", "muvr"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("[", "{"));                // 0x5B is not 'A'-'Z' + 26
  EXPECT_FALSE(equalsIgnoringAsciiCase("\xC3\x89", "\xC3\xA9"));  // no folding beyond ASCII
  EXPECT_TRUE(startsWithIgnoringAsciiCase("HTTPS://github.com", "https://"));
  EXPECT_TRUE(startsWithIgnoringAsciiCase("https://", "HTTPS://"));
  EXPECT_FALSE(startsWithIgnoringAsciiCase("https:/", "https://"));
}

}  // namespace
}  // namespace muvra
