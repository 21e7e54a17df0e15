#include "window/web_resource_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/embedded_resources.h"
#include "launcher/interface_files.h"

namespace muvra {
namespace {

std::vector<std::uint8_t> readAll(IStream* stream) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t block[4096];
  ULONG read = 0;
  while (SUCCEEDED(stream->Read(block, sizeof block, &read)) && read > 0) {
    bytes.insert(bytes.end(), block, block + read);
  }
  return bytes;
}

TEST(WebResourceAnswer, EachServedFileIsACopyOfItsResourceInANewStream) {
  for (const InterfaceFile& file : kInterfaceFiles) {
    SCOPED_TRACE(std::string(file.path));
    const WebResourceAnswer first = webResourceAnswer(interfaceOrigin() + std::string(file.path));
    const WebResourceAnswer second = webResourceAnswer(interfaceOrigin() + std::string(file.path));
    ASSERT_TRUE(first.content);
    EXPECT_NE(first.content.get(), second.content.get());
    const auto resource = embeddedResource(file.resourceId);
    ASSERT_TRUE(resource.has_value());
    EXPECT_EQ(readAll(first.content.get()),
              std::vector<std::uint8_t>(resource->begin(), resource->end()));
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.reason, L"OK");
    const std::string headers = fileHeaders(contentTypeFor(file.path));
    EXPECT_EQ(first.headers, std::wstring(headers.begin(), headers.end()));
  }
}

TEST(WebResourceAnswer, EverythingElseIsBlockedWithoutContent) {
  for (const std::string& uri :
       {interfaceOrigin() + "loader.html?x=1", interfaceOrigin() + "LOADER.HTML",
        std::string("https://example.com/loader.html"), std::string()}) {
    SCOPED_TRACE(uri);
    const WebResourceAnswer answer = webResourceAnswer(uri);
    EXPECT_FALSE(answer.content);
    EXPECT_EQ(answer.status, 403);
    EXPECT_EQ(answer.reason, L"Blocked");
    EXPECT_EQ(answer.headers, L"Content-Type: text/plain");
  }
}

}  // namespace
}  // namespace muvra
