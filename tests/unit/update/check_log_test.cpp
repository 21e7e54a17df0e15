#include "update/check_log.h"

#include <gtest/gtest.h>

namespace muvra {
namespace {

TEST(CheckLogTest, WritesTimesInUtc) {
  const std::pair<std::int64_t, const char*> table[] = {{0, "1970-01-01T00:00:00Z"},
                                                        {-1, "1969-12-31T23:59:59Z"},
                                                        {951782400, "2000-02-29T00:00:00Z"},
                                                        {1796876458, "2026-12-10T04:20:58Z"}};
  for (const auto& [seconds, text] : table) {
    EXPECT_EQ(utcText(seconds), text) << seconds;
  }
}

TEST(CheckLogTest, ARefusalNamesWhatGitHubSaidOfItsLimit) {
  AnswerFacts limited{429, "", "", "", "60", "1796876458"};
  EXPECT_EQ(refusalLogLine(0, limited),
            "1970-01-01T00:00:00Z refused status=429 retry-after=60 "
            "x-ratelimit-reset=1796876458 (2026-12-10T04:20:58Z)\n");
  AnswerFacts denied{403, "", "", "", "", "soon"};
  EXPECT_EQ(refusalLogLine(0, denied),
            "1970-01-01T00:00:00Z refused status=403 x-ratelimit-reset=soon\n");
}

}  // namespace
}  // namespace muvra
