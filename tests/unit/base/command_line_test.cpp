#include "base/command_line.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

#include <string>
#include <vector>

#include "support/case_name.h"

namespace muvra {
namespace {

struct QuotingCase {
  const char* name;
  std::u16string argument;
  std::u16string written;  // as it stands on the command line
};
MUVRA_PRINTS_CASE_NAME(QuotingCase)

class WindowsCommandLineTest : public ::testing::TestWithParam<QuotingCase> {};

const std::u16string kProgram = u"C:\\Program Files\\Muvra\\MuvraLoader.exe";

TEST_P(WindowsCommandLineTest, QuotesOnlyWhatTheSplitWouldChange) {
  EXPECT_EQ(windowsCommandLine(kProgram, {u"--web-preview", GetParam().argument}),
            u"\"" + kProgram + u"\" --web-preview " + GetParam().written);
}

#ifdef _WIN32
// The system's own split gives every argument back as it was.
TEST_P(WindowsCommandLineTest, SplitsBackIntoTheSameArguments) {
  const std::u16string line = windowsCommandLine(kProgram, {GetParam().argument, u"last"});
  int count = 0;
  wchar_t** split = CommandLineToArgvW(reinterpret_cast<const wchar_t*>(line.c_str()), &count);
  ASSERT_NE(split, nullptr);
  std::vector<std::u16string> arguments;
  for (int i = 0; i < count; ++i) {
    arguments.emplace_back(reinterpret_cast<const char16_t*>(split[i]));
  }
  LocalFree(split);
  EXPECT_EQ(arguments, (std::vector<std::u16string>{kProgram, GetParam().argument, u"last"}));
}
#endif

INSTANTIATE_TEST_SUITE_P(
    Arguments,
    WindowsCommandLineTest,
    ::testing::Values(QuotingCase{"Plain", u"download", u"download"},
                      QuotingCase{"Empty", u"", u"\"\""},
                      QuotingCase{"Space", u"a b", u"\"a b\""},
                      QuotingCase{"Tab", u"a\tb", u"\"a\tb\""},
                      QuotingCase{"BackslashesWithoutQuotesStay", u"C:\\a\\b\\", u"C:\\a\\b\\"},
                      QuotingCase{"Quote", u"say \"hi\"", u"\"say \\\"hi\\\"\""},
                      QuotingCase{"BackslashBeforeQuote", u"a\\\"b", u"\"a\\\\\\\"b\""},
                      QuotingCase{"TrailingBackslashesWhenQuoted", u"C:\\my folder\\\\",
                                  u"\"C:\\my folder\\\\\\\\\""},
                      QuotingCase{"NotAscii", u"\u00e9t\u00e9 \U0001F600",
                                  u"\"\u00e9t\u00e9 \U0001F600\""}),
    testing::CaseName());

}  // namespace
}  // namespace muvra
