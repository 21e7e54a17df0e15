#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "base/cancellation.h"
#include "net/https_client.h"
#include "support/fake_github.h"

namespace muvra {
namespace {

// Run with the libcurl.so.4 of helpers/old_libcurl.cpp first on the library path: a libcurl
// older than 7.85, which refuses the string list of protocols.
TEST(OldLibcurlTest, ChecksWorkWithTheProtocolMaskItKnows) {
  testing::FakeGitHub server;
  server.setRoutes({{"github.com /x", {{"body", "from an older libcurl"}}}});
  std::string body;
  CancellationFlag cancel;
  httpsGet("https://github.com/x", 100, cancel, [&](const std::uint8_t* data, std::uint32_t size) {
    body.append(reinterpret_cast<const char*>(data), size);
  });
  EXPECT_EQ(body, "from an older libcurl");

  void* const loaded = dlopen("libcurl.so.4", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(loaded, nullptr);
  const auto* refused = static_cast<const int*>(dlsym(loaded, "muvra_refused_protocol_strings"));
  ASSERT_NE(refused, nullptr) << "the system's libcurl was used, not the older one";
  EXPECT_EQ(*refused, 1);
  dlclose(loaded);
}

}  // namespace
}  // namespace muvra
