#include "net/system_proxy.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/case_name.h"

namespace muvra {
namespace {

struct ChoiceCase {
  const char* name;
  std::vector<std::string_view> offered;
  std::optional<std::string> chosen;  // "" direct, nothing: the request must not go out
};
MUVRA_PRINTS_CASE_NAME(ChoiceCase)

class ChooseProxyTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChooseProxyTest, TakesTheFirstEntryCurlCanUse) {
  EXPECT_EQ(chooseProxy(GetParam().offered), GetParam().chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Lists,
    ChooseProxyTest,
    ::testing::Values(
        ChoiceCase{"nothingAnswered", {}, ""},
        ChoiceCase{"direct", {"direct://"}, ""},
        ChoiceCase{"httpProxy", {"http://proxy:3128", "direct://"}, "http://proxy:3128"},
        ChoiceCase{"pacSocksIsVersion5ResolvedByTheProxy",
                   {"socks://127.0.0.1:1080", "direct://"},
                   "socks5h://127.0.0.1:1080"},
        ChoiceCase{"explicitVersionsKept", {"socks4a://h:1"}, "socks4a://h:1"},
        ChoiceCase{"unusableSkippedForALaterProxy",
                   {"ftp://h:21", "https://h:443"},
                   "https://h:443"},
        ChoiceCase{"unusableBeforeDirectGoesDirect", {"ftp://h:21", "direct://"}, ""},
        ChoiceCase{"onlyUnusableNeverGoesDirect", {"ftp://h:21", "wpad://"}, std::nullopt},
        ChoiceCase{"schemeWithoutHostIsUnusable", {"socks://"}, std::nullopt}),
    testing::CaseName());

}  // namespace
}  // namespace muvra
