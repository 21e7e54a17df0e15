#include "launcher/interface_files.h"

#include <gtest/gtest.h>

#include <string>

#include "launcher/embedded_resources.h"
#include "support/case_name.h"

namespace muvra {
namespace {

const std::string kHtml =
    "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff";

struct ServedCase {
  const char* name;
  const char* path;
  int id;
  const char* contentType;
};

MUVRA_PRINTS_CASE_NAME(ServedCase)

class ServedFileTest : public ::testing::TestWithParam<ServedCase> {};

TEST_P(ServedFileTest, ServesTheEmbeddedBytes) {
  const ServedCase& c = GetParam();
  const ResourceResponse response = respondToRequest(interfaceOrigin() + c.path);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.reason, "OK");
  EXPECT_EQ(response.headers, fileHeaders(c.contentType));
  const auto bytes = embeddedResource(c.id);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(response.body.data(), bytes->data());
  EXPECT_EQ(response.body.size(), bytes->size());
  EXPECT_GT(response.body.size(), 20u);
}

INSTANTIATE_TEST_SUITE_P(
    Table,
    ServedFileTest,
    ::testing::Values(ServedCase{"index", "index.html", 201, "text/html"},
                      ServedCase{"loader", "loader.html", 203, "text/html"},
                      ServedCase{"styles", "styles.css", 204, "text/css"},
                      ServedCase{"loaderStyles", "loader.css", 205, "text/css"},
                      ServedCase{"app", "app.js", 206, "application/javascript"},
                      ServedCase{"loaderScript", "loader.js", 208, "application/javascript"},
                      ServedCase{"version", "version.js", 209, "application/javascript"},
                      ServedCase{"hero", "images/mm2.png", 210, "image/png"},
                      ServedCase{"bloom", "images/bloom.png", 211, "image/png"}),
    testing::CaseName());

TEST(InterfaceFilesTest, EmbeddedBytesAreTheFiles) {
  const auto loader = embeddedResource(203);
  ASSERT_TRUE(loader.has_value());
  const std::string page(loader->begin(), loader->end());
  EXPECT_TRUE(page.starts_with("<!doctype html>"));
  EXPECT_NE(page.find("<title>Muvra / Launcher</title>"), std::string::npos);
  EXPECT_NE(page.find("images/bloom.png"), std::string::npos);
  const auto version = embeddedResource(209);
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(std::string(version->begin(), version->end()), "window.MUVRA_VERSION = '2.5';\n");
  for (const int id : {210, 211}) {
    const auto image = embeddedResource(id);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(std::string(image->begin(), image->begin() + 8), "\x89PNG\r\n\x1a\n");
  }
  EXPECT_FALSE(embeddedResource(202).has_value());
  EXPECT_FALSE(embeddedResource(101).has_value());
}

TEST(InterfaceFilesTest, EverythingElseIsBlocked) {
  const std::string origin = interfaceOrigin();
  for (const std::string& uri :
       {origin, origin.substr(0, origin.size() - 1), origin + "favicon.ico", origin + "Loader.html",
        origin + "loader.html?x=1", origin + "loader.html#top", origin + "images/",
        origin + "./loader.html", std::string("https://example.com/loader.html"),
        std::string("https://api.github.com/"), std::string("file:///etc/passwd"),
        std::string("")}) {
    const ResourceResponse response = respondToRequest(uri);
    EXPECT_EQ(response.status, 403) << uri;
    EXPECT_EQ(response.reason, "Blocked");
    EXPECT_EQ(response.headers, "Content-Type: text/plain");
    EXPECT_TRUE(response.body.empty());
  }
}

TEST(InterfaceFilesTest, MissingBytesAnswer404WithTheContentType) {
  for (const InterfaceFile& file : kInterfaceFiles) {
    const ResourceResponse response = fileResponse(file, std::nullopt);
    EXPECT_EQ(response.status, 404) << file.path;
    EXPECT_EQ(response.reason, "Not Found");
    EXPECT_EQ(response.headers, fileHeaders(contentTypeFor(file.path)));
    EXPECT_TRUE(response.body.empty());
  }
  const ResourceResponse empty = fileResponse(kInterfaceFiles[1], std::span<const std::uint8_t>());
  EXPECT_EQ(empty.status, 404);
}

TEST(InterfaceFilesTest, ContentTypeByFirstMatch) {
  EXPECT_EQ(contentTypeFor("images/a.png"), "image/png");
  EXPECT_EQ(contentTypeFor("x.png.css"), "image/png");
  EXPECT_EQ(contentTypeFor("a.css.js"), "text/css");
  EXPECT_EQ(contentTypeFor("a.json"), "application/javascript");
  EXPECT_EQ(contentTypeFor("index.html"), "text/html");
  EXPECT_EQ(fileHeaders("text/html"), kHtml);
}

TEST(InterfaceFilesTest, NavigationOnlyToTheTwoPages) {
  const std::string origin = interfaceOrigin();
  EXPECT_TRUE(isAllowedNavigation(origin + "index.html"));
  EXPECT_TRUE(isAllowedNavigation(origin + "loader.html"));
  for (const std::string& uri :
       {origin + "loader.html#x", origin + "index.html?a", origin + "styles.css", origin,
        std::string("https://github.com/"), std::string("about:blank"), std::string("")}) {
    EXPECT_FALSE(isAllowedNavigation(uri)) << uri;
  }
  EXPECT_TRUE(origin.ends_with("://loader.muvra.invalid/"));
}

}  // namespace
}  // namespace muvra
