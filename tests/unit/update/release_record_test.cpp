#include "update/release_record.h"

#include <gtest/gtest.h>

#include <string>

#include "net/https_client.h"
#include "support/case_name.h"
#include "support/temporary_folder.h"

namespace muvra {
namespace {

struct FailureCase {
  const char* name;
  std::string sentence;
  bool offline;
};
MUVRA_PRINTS_CASE_NAME(FailureCase)

class OfflineStartDecisionTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(OfflineStartDecisionTest, OnlyWhenGitHubCouldNotAnswerForNow) {
  EXPECT_EQ(allowsOfflineStart(GetParam().sentence), GetParam().offline);
}

INSTANTIATE_TEST_SUITE_P(
    Failures,
    OfflineStartDecisionTest,
    ::testing::Values(
        FailureCase{"unreachable", kCannotReachGitHub, true},
        FailureCase{"silentOrDropped",
                    "The download was interrupted. Your previous installation was kept.", true},
        FailureCase{"rateLimited", statusFailureSentence(429), true},
        FailureCase{"serviceUnavailable", statusFailureSentence(503), true},
        FailureCase{"lastServerError", statusFailureSentence(599), true},
        FailureCase{"notFound", statusFailureSentence(404), false},
        FailureCase{"otherStatus", statusFailureSentence(418), false},
        FailureCase{"statusUnreadable", "Could not read GitHub's HTTP status.", false},
        FailureCase{"oversized", "The response exceeded the allowed size.", false},
        FailureCase{"cancelled", "Cancelled.", false},
        FailureCase{"releaseRule", "The release has no version tag.", false},
        FailureCase{"digest", "The update failed integrity verification.", false}),
    testing::CaseName());

const std::string kDigest(64, 'a');

struct RecordCase {
  const char* name;
  std::string text;
  bool accepted;
};
MUVRA_PRINTS_CASE_NAME(RecordCase)

class ReleaseRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(ReleaseRecordTest, IsReadOnlyWhole) {
  EXPECT_EQ(parseReleaseRecord(GetParam().text).has_value(), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Records,
    ReleaseRecordTest,
    ::testing::Values(
        RecordCase{"whole", R"({"sha256":")" + kDigest + R"(","size":5000,"tag":"v2"})", true},
        RecordCase{"torn", R"({"sha256":")" + kDigest + R"(","size":50)", false},
        RecordCase{"foreign", R"({"profile":"Default"})", false},
        RecordCase{"notJson", "v2 5000", false},
        RecordCase{"upperCaseDigest",
                   R"({"sha256":")" + std::string(64, 'A') + R"(","size":5000,"tag":"v2"})", false},
        RecordCase{"sizeAsText", R"({"sha256":")" + kDigest + R"(","size":"5000","tag":"v2"})",
                   false},
        RecordCase{"tooSmall", R"({"sha256":")" + kDigest + R"(","size":4095,"tag":"v2"})", false},
        RecordCase{"emptyTag", R"({"sha256":")" + kDigest + R"(","size":5000,"tag":""})", false},
        RecordCase{
            "withFileVersion",
            R"({"fileVersion":[2,6,0,65535],"sha256":")" + kDigest + R"(","size":5000,"tag":"v2"})",
            true},
        RecordCase{
            "fileVersionPartTooLarge",
            R"({"fileVersion":[2,6,0,65536],"sha256":")" + kDigest + R"(","size":5000,"tag":"v2"})",
            false},
        RecordCase{
            "fileVersionOfThreeParts",
            R"({"fileVersion":[2,6,0],"sha256":")" + kDigest + R"(","size":5000,"tag":"v2"})",
            false},
        RecordCase{
            "fileVersionAsText",
            R"({"fileVersion":"2.6.0.0","sha256":")" + kDigest + R"(","size":5000,"tag":"v2"})",
            false}),
    testing::CaseName());

TEST(ReleaseRecordFileTest, AWrittenRecordReadsBackAndReplacesTheLastOne) {
  const testing::TemporaryFolder folder;
  const std::filesystem::path record = folder / "key-verified-release.json";
  EXPECT_EQ(readReleaseRecord(record), std::nullopt);
  ReleaseInfo release{"v1", "", kDigest, 5000};
  writeReleaseRecord(record, {release, FileVersion::of(2, 6, 0, 1)});
  release.tag = "v2";
  writeReleaseRecord(record, {release, FileVersion::of(2, 7, 65535, 3)});
  const std::optional<ReleaseRecord> read = readReleaseRecord(record);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->release.tag, "v2");
  EXPECT_EQ(read->release.sha256, kDigest);
  EXPECT_EQ(read->release.size, 5000u);
  EXPECT_EQ(read->fileVersion, FileVersion::of(2, 7, 65535, 3));
  EXPECT_EQ(testing::listFolder(folder.path()), "key-verified-release.json");
}

}  // namespace
}  // namespace muvra
