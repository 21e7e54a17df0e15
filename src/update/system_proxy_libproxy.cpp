#include <proxy.h>

#include <array>
#include <memory>
#include <string_view>

#include "update/system_proxy.h"

namespace muvra {

namespace {

struct ListDeleter {
  void operator()(char** proxies) const { px_proxy_factory_free_proxies(proxies); }
};

// What curl can tunnel through; libproxy may also name others (ftp://), which are passed over.
bool usable(std::string_view proxy) {
  constexpr std::array<std::string_view, 6> kSchemes = {"http://",    "https://",  "socks4://",
                                                        "socks4a://", "socks5://", "socks5h://"};
  for (const std::string_view scheme : kSchemes) {
    if (proxy.starts_with(scheme)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string systemProxyFor(const std::string& url) {
  // One factory for the process: making one loads libproxy's modules. Its questions are
  // serialised by libproxy, and each reads the configuration afresh.
  static pxProxyFactory* const factory = px_proxy_factory_new();
  if (factory == nullptr) {
    return {};
  }
  const std::unique_ptr<char*, ListDeleter> proxies(
      px_proxy_factory_get_proxies(factory, url.c_str()));
  for (char** proxy = proxies.get(); proxy != nullptr && *proxy != nullptr; ++proxy) {
    const std::string_view choice(*proxy);
    if (choice == "direct://") {
      return {};
    }
    if (usable(choice)) {
      return std::string(choice);
    }
  }
  return {};  // none curl can use: direct, as WinHTTP when automatic configuration fails
}

}  // namespace muvra
