#include "net/download_resume.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

namespace muvra {
namespace {

constexpr std::uint64_t kSize = 10000;
const std::string kTag = "\"asset-1\"";

struct AnswerCase {
  const char* name;
  AnswerFacts answer;
  ResumeVerdict verdict;
};
MUVRA_PRINTS_CASE_NAME(AnswerCase)

class ResumeAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(ResumeAnswerTest, AppendsOnlyTheMissingBytesOfTheSameFile) {
  EXPECT_EQ(judgeResumeAnswer(GetParam().answer, 4000, kSize, kTag), GetParam().verdict);
}

AnswerFacts partial(std::string contentRange, std::string etag = kTag) {
  AnswerFacts answer;
  answer.status = 206;
  answer.contentRange = std::move(contentRange);
  answer.etag = std::move(etag);
  return answer;
}

INSTANTIATE_TEST_SUITE_P(
    Answers,
    ResumeAnswerTest,
    ::testing::Values(
        AnswerCase{"partialRight", partial("bytes 4000-9999/10000"), ResumeVerdict::Continue},
        AnswerCase{"partialOfUnknownLength", partial("bytes 4000-9999/*"), ResumeVerdict::Continue},
        AnswerCase{"partialWithoutItsTag", partial("bytes 4000-9999/10000", ""),
                   ResumeVerdict::Continue},
        AnswerCase{"partialWrongStart", partial("bytes 3999-9999/10000"), ResumeVerdict::Refuse},
        AnswerCase{"partialWrongEnd", partial("bytes 4000-9998/10000"), ResumeVerdict::Refuse},
        AnswerCase{"partialOfAnotherLength", partial("bytes 4000-9999/10001"),
                   ResumeVerdict::Refuse},
        AnswerCase{"partialWithoutRange", partial(""), ResumeVerdict::Refuse},
        AnswerCase{"partialGarbled", partial("bytes 4000-99x9/10000"), ResumeVerdict::Refuse},
        AnswerCase{"partialOfAnotherFile", partial("bytes 4000-9999/10000", "\"asset-2\""),
                   ResumeVerdict::Refuse},
        AnswerCase{"whole", AnswerFacts{200, kTag, "", "", "", ""}, ResumeVerdict::StartOver},
        AnswerCase{"notSatisfiable", AnswerFacts{416, "", "", "bytes */10000", "", ""},
                   ResumeVerdict::Refuse}),
    testing::CaseName());

TEST(ResumeValidatorTest, AStrongTagElseTheDateElseNothing) {
  EXPECT_EQ(resumeValidator(AnswerFacts{200, kTag, "Tue, 01 Dec 2026 10:00:00 GMT", "", "", ""}),
            kTag);
  EXPECT_EQ(
      resumeValidator(AnswerFacts{200, "W/\"weak\"", "Tue, 01 Dec 2026 10:00:00 GMT", "", "", ""}),
      "Tue, 01 Dec 2026 10:00:00 GMT");
  EXPECT_EQ(resumeValidator(AnswerFacts{200, "", "", "", "", ""}), std::nullopt);
  EXPECT_EQ(resumeValidator(AnswerFacts{200, "\"a\x01b\"", "", "", "", ""}), std::nullopt)
      << "nothing that could break a request header goes back";
  // A partial answer is judged by the kind of validator asked with.
  AnswerFacts dated = partial("bytes 4000-9999/10000", "\"new\"");
  dated.lastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
  EXPECT_EQ(judgeResumeAnswer(dated, 4000, kSize, dated.lastModified), ResumeVerdict::Continue);
}

TEST(ResumeDelayTest, DoublesFromOneSecond) {
  EXPECT_EQ(resumeDelay(1), std::chrono::milliseconds(1000));
  EXPECT_EQ(resumeDelay(2), std::chrono::milliseconds(2000));
  EXPECT_EQ(resumeDelay(kMostResumptions), std::chrono::milliseconds(4000));
}

}  // namespace
}  // namespace muvra
