#include "update/release.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <variant>

#include "base/failure.h"
#include "support/case_name.h"
#include "update/json_reader.h"

namespace muvra {
namespace {

using Json = nlohmann::json;

const std::string kDigest(64, 'a');

Json fixture() {
  return Json{{"tag_name", "v15"},
              {"draft", false},
              {"prerelease", false},
              {"assets",
               Json::array({Json{{"name", "muvra.exe"},
                                 {"size", 442880},
                                 {"browser_download_url", assetDownloadPrefix() + "v15/muvra.exe"},
                                 {"digest", "sha256:" + kDigest}}})}};
}

Json& firstAsset(Json& document) {
  return document["assets"][0];
}

struct Malformed {};
struct Refused {
  std::string sentence;
};
using Outcome = std::variant<ReleaseInfo, Refused, Malformed>;

Outcome outcomeOf(const std::string& text) {
  try {
    return parseRelease(text);
  } catch (const OperationFailure& failure) {
    return Refused{failure.what()};
  } catch (const PlatformError&) {
    return Malformed{};
  }
}

const char* const kStable = "A stable published release is required.";
const char* const kNoTag = "The release has no version tag.";
const char* const kSize = "The release asset size is invalid (maximum 64 MB).";
const char* const kOneAsset =
    "Publish one release asset named muvra.exe (not just a source-code ZIP).";
const char* const kUrl = "The asset download URL does not belong to the configured repository.";
const char* const kDigestSentence =
    "The asset has no valid GitHub SHA-256 digest. Upload a new release asset.";

struct RuleCase {
  const char* name;
  std::function<void(Json&)> change;
  std::optional<std::string> refusal;  // empty: accepted
};

MUVRA_PRINTS_CASE_NAME(RuleCase)

class ReleaseRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(ReleaseRuleTest, AppliesTheRulesInOrder) {
  Json document = fixture();
  GetParam().change(document);
  const Outcome outcome = outcomeOf(document.dump());
  if (GetParam().refusal) {
    ASSERT_TRUE(std::holds_alternative<Refused>(outcome)) << document.dump();
    EXPECT_EQ(std::get<Refused>(outcome).sentence, *GetParam().refusal);
  } else {
    ASSERT_TRUE(std::holds_alternative<ReleaseInfo>(outcome))
        << (std::holds_alternative<Refused>(outcome) ? std::get<Refused>(outcome).sentence
                                                     : "malformed");
  }
}

auto setSize(Json value) {
  return [value](Json& d) { firstAsset(d)["size"] = value; };
}
auto setDigest(std::string value) {
  return [value](Json& d) { firstAsset(d)["digest"] = value; };
}
auto setUrl(std::string value) {
  return [value](Json& d) { firstAsset(d)["browser_download_url"] = value; };
}

INSTANTIATE_TEST_SUITE_P(
    Rules,
    ReleaseRuleTest,
    ::testing::Values(
        RuleCase{"fixture", [](Json&) {}, std::nullopt},
        RuleCase{"draft", [](Json& d) { d["draft"] = true; }, kStable},
        RuleCase{"prerelease", [](Json& d) { d["prerelease"] = true; }, kStable},
        RuleCase{"noDraftOrPrereleaseMembers",
                 [](Json& d) {
                   d.erase("draft");
                   d.erase("prerelease");
                 },
                 std::nullopt},
        RuleCase{"emptyTag", [](Json& d) { d["tag_name"] = ""; }, kNoTag},
        RuleCase{"draftBeforeTag",
                 [](Json& d) {
                   d["draft"] = true;
                   d["tag_name"] = "";
                 },
                 kStable},
        RuleCase{"noAssets", [](Json& d) { d["assets"] = Json::array(); }, kOneAsset},
        RuleCase{"sourceArchivesOnly",
                 [](Json& d) {
                   d["assets"] =
                       Json::array({Json{{"name", "source.zip"}}, Json{{"name", "source.tar.gz"}}});
                 },
                 kOneAsset},
        RuleCase{"nameInCapitals", [](Json& d) { firstAsset(d)["name"] = "MUVRA.EXE"; },
                 std::nullopt},
        RuleCase{"nameWithTrailingBlank", [](Json& d) { firstAsset(d)["name"] = "muvra.exe "; },
                 kOneAsset},
        RuleCase{"nameWithoutExtension", [](Json& d) { firstAsset(d)["name"] = "muvra"; },
                 kOneAsset},
        RuleCase{"nameWithExtraExtension", [](Json& d) { firstAsset(d)["name"] = "muvra.exe.zip"; },
                 kOneAsset},
        RuleCase{"twoMatches",
                 [](Json& d) {
                   Json second = firstAsset(d);
                   second["name"] = "MUVRA.exe";
                   d["assets"].push_back(second);
                 },
                 kOneAsset},
        RuleCase{"firstMatchSizeErrorComesFirst",
                 [](Json& d) {
                   Json second = firstAsset(d);
                   second["name"] = "MUVRA.EXE";
                   firstAsset(d)["size"] = 0;
                   d["assets"].push_back(second);
                 },
                 kSize},
        RuleCase{"otherAssetWithoutSizeOrUrl",
                 [](Json& d) {
                   d["assets"].insert(d["assets"].begin(), Json{{"name", "notes.txt"}});
                 },
                 std::nullopt},
        RuleCase{"size4095", setSize(4095), kSize},
        RuleCase{"size4096", setSize(4096), std::nullopt},
        RuleCase{"size64MiB", setSize(67108864), std::nullopt},
        RuleCase{"size64MiBPlusOne", setSize(67108865), kSize},
        RuleCase{"size999999999", setSize(999999999), kSize},
        RuleCase{"sizeFractional", setSize(442880.5), kSize},
        RuleCase{"sizeWholeDouble", setSize(442880.0), std::nullopt},
        RuleCase{"sizeNegative", setSize(-4096), kSize},
        RuleCase{"urlForeignHost",
                 setUrl("https://example.org/muvra-app/muvra/releases/download/v15/muvra.exe"),
                 kUrl},
        RuleCase{"urlPlainHttp", setUrl("http" + assetDownloadPrefix().substr(5) + "v15/muvra.exe"),
                 kUrl},
        RuleCase{"urlOutsideDownloads",
                 setUrl(assetDownloadPrefix().substr(0, assetDownloadPrefix().size() - 9) +
                        "archive/v15.zip"),
                 kUrl},
        RuleCase{"urlShorterThanPrefix", setUrl("https://"), kUrl},
        RuleCase{"urlSchemeAndHostInCapitals",
                 [](Json& d) {
                   std::string url = assetDownloadPrefix() + "v15/muvra.exe";
                   for (std::size_t i = 0; i < 18 && i < url.size(); ++i) {
                     url[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(url[i])));
                   }
                   firstAsset(d)["browser_download_url"] = url;
                 },
                 std::nullopt},
        RuleCase{"digestAbsent", [](Json& d) { firstAsset(d).erase("digest"); }, kDigestSentence},
        RuleCase{"digestNull", [](Json& d) { firstAsset(d)["digest"] = nullptr; }, kDigestSentence},
        RuleCase{"digestEmpty", setDigest(""), kDigestSentence},
        RuleCase{"digestSha512", setDigest("sha512:" + kDigest), kDigestSentence},
        RuleCase{"digestPrefixInCapitals", setDigest("SHA256:" + kDigest), kDigestSentence},
        RuleCase{"digest63Digits", setDigest("sha256:" + std::string(63, 'a')), kDigestSentence},
        RuleCase{"digest65Digits", setDigest("sha256:" + std::string(65, 'a')), kDigestSentence},
        RuleCase{"digestNonHex", setDigest("sha256:" + std::string(63, 'a') + "g"),
                 kDigestSentence},
        RuleCase{"digestUpperCaseHex", setDigest("sha256:" + std::string(64, 'F')), std::nullopt}),
    testing::CaseName());

struct MalformedCase {
  const char* name;
  std::function<std::string()> document;
};

MUVRA_PRINTS_CASE_NAME(MalformedCase)

class MalformedReleaseTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedReleaseTest, IsAPlatformError) {
  const std::string text = GetParam().document();
  EXPECT_TRUE(std::holds_alternative<Malformed>(outcomeOf(text))) << text;
}

auto changed(std::function<void(Json&)> change) {
  return [change] {
    Json document = fixture();
    change(document);
    return document.dump();
  };
}

INSTANTIATE_TEST_SUITE_P(
    Documents,
    MalformedReleaseTest,
    ::testing::Values(
        MalformedCase{"empty", [] { return std::string(); }},
        MalformedCase{"notJson", [] { return std::string("{\"tag_name\":"); }},
        MalformedCase{"topLevelArray", [] { return std::string("[1,2]"); }},
        MalformedCase{"tagMissing", changed([](Json& d) { d.erase("tag_name"); })},
        MalformedCase{"tagNumber", changed([](Json& d) { d["tag_name"] = 15; })},
        MalformedCase{"draftString", changed([](Json& d) { d["draft"] = "false"; })},
        MalformedCase{"draftNull", changed([](Json& d) { d["draft"] = nullptr; })},
        MalformedCase{"assetsMissing", changed([](Json& d) { d.erase("assets"); })},
        MalformedCase{"assetsObject", changed([](Json& d) { d["assets"] = Json::object(); })},
        MalformedCase{"assetNotObject", changed([](Json& d) { d["assets"].push_back(7); })},
        MalformedCase{"assetWithoutName", changed([](Json& d) {
                        d["assets"].push_back(Json{{"size", 1}});
                      })},
        MalformedCase{"matchWithoutUrl",
                      changed([](Json& d) { firstAsset(d).erase("browser_download_url"); })},
        MalformedCase{"matchWithoutSize", changed([](Json& d) { firstAsset(d).erase("size"); })},
        MalformedCase{"matchSizeString",
                      changed([](Json& d) { firstAsset(d)["size"] = "442880"; })},
        MalformedCase{"digestNumber", changed([](Json& d) { firstAsset(d)["digest"] = 1; })}),
    testing::CaseName());

TEST(ParseReleaseTest, ReturnsTheWholeRecord) {
  Json document = fixture();
  firstAsset(document)["digest"] = "sha256:" + std::string(32, 'A') + std::string(32, '0');
  const ReleaseInfo info = parseRelease(document.dump());
  EXPECT_EQ(info.tag, "v15");
  EXPECT_EQ(info.size, 442880u);
  EXPECT_EQ(info.downloadUrl, assetDownloadPrefix() + "v15/muvra.exe");
  EXPECT_EQ(info.sha256, std::string(32, 'a') + std::string(32, '0'));
}

// Numbers beyond a double's range, which the JSON library refuses to read, written into the text.
TEST(ParseReleaseTest, NumbersBeyondADoubleAreOutOfRangeNotMalformed) {
  struct Case {
    const char* written;
    std::optional<std::string> refusal;
  };
  for (const Case& c : {Case{"1e400", kSize}, Case{"-1E400", kSize}, Case{"1e-400", kSize},
                        Case{"4.4288e5", std::nullopt}}) {
    std::string text = fixture().dump();
    text.replace(text.find("442880"), 6, c.written);
    const Outcome outcome = outcomeOf(text);
    if (c.refusal) {
      ASSERT_TRUE(std::holds_alternative<Refused>(outcome)) << c.written;
      EXPECT_EQ(std::get<Refused>(outcome).sentence, *c.refusal);
    } else {
      EXPECT_TRUE(std::holds_alternative<ReleaseInfo>(outcome)) << c.written;
    }
  }
  Json document = fixture();
  document["tag_name"] = "v1e400";
  document["id"] = 0;
  std::string text = document.dump();
  text.replace(text.find("\"id\":0"), 6, "\"id\":9e999");
  EXPECT_EQ(parseRelease(text).tag, "v1e400");
}

TEST(ParseReleaseTest, KeepsTheTagAsPublished) {
  Json document = fixture();
  document["tag_name"] = " v15 \xC3\xA9";
  EXPECT_EQ(parseRelease(document.dump()).tag, " v15 \xC3\xA9");
}

TEST(ReleaseTextTest, PreparesTheBodyAsTheCallerDoes) {
  EXPECT_EQ(releaseTextFromBody(std::string_view("{\"a\":1}\0junk", 12)), "{\"a\":1}");
  EXPECT_EQ(releaseTextFromBody("\xFF{}"), "\xEF\xBF\xBD{}");
  EXPECT_TRUE(std::holds_alternative<Malformed>(
      outcomeOf(releaseTextFromBody(std::string_view("\0{}", 3)))));
  // Invalid bytes inside a string become U+FFFD instead of failing the whole document.
  Json document = fixture();
  std::string text = document.dump();
  text.replace(text.find("\"v15\""), 5, "\"v\xFF\"");
  EXPECT_EQ(parseRelease(releaseTextFromBody(text)).tag, "v\xEF\xBF\xBD");
}

TEST(ReleaseUrlTest, FormsTheConfiguredAddresses) {
  EXPECT_EQ(latestReleaseUrl().rfind("https://", 0), 0u);
  EXPECT_NE(latestReleaseUrl().find("/repos/"), std::string::npos);
  EXPECT_EQ(latestReleaseUrl().substr(latestReleaseUrl().size() - 16), "/releases/latest");
  EXPECT_EQ(assetDownloadPrefix().substr(assetDownloadPrefix().size() - 19), "/releases/download/");
}

TEST(JsonReaderTest, ReportsTheFacilityStatusCodes) {
  auto statusOf = [](auto call) -> std::uint32_t {
    try {
      call();
    } catch (const PlatformError& error) {
      return error.status();
    }
    return 0;
  };
  const auto object = muvra::json::JsonObject::parse(R"({"s":"x","n":1,"b":true})");
  EXPECT_EQ(statusOf([] { muvra::json::JsonObject::parse("nope"); }),
            muvra::json::kInvalidJsonString);
  EXPECT_EQ(statusOf([&] { object.getNamedString("missing"); }), muvra::json::kValueNotFound);
  EXPECT_EQ(statusOf([&] { object.getNamedNumber("s"); }), muvra::json::kWrongType);
  EXPECT_EQ(object.getNamedString("missing", "fallback"), "fallback");
  EXPECT_FALSE(object.getNamedBoolean("missing", false));
  EXPECT_TRUE(object.getNamedBoolean("b", false));
  EXPECT_EQ(object.getNamedNumber("n"), 1.0);
}

}  // namespace
}  // namespace muvra
