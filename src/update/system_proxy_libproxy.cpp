#include <proxy.h>

#include <array>
#include <memory>
#include <string_view>

#include "base/failure.h"
#include "base/shared_library.h"
#include "update/system_proxy.h"

namespace muvra {

namespace {

// libproxy, loaded with the first question (it loads modules of its own) and kept with one
// factory for the process. The factory's questions are serialised by libproxy, and each reads
// the configuration afresh.
struct Libproxy {
  Libproxy() {
    library.bind(newFactory, "px_proxy_factory_new");
    library.bind(getProxies, "px_proxy_factory_get_proxies");
    library.bind(freeProxies, "px_proxy_factory_free_proxies");
    library.bind(freeFactory, "px_proxy_factory_free");
    factory = newFactory();
  }
  ~Libproxy() {
    if (factory != nullptr) {
      freeFactory(factory);
    }
  }
  Libproxy(const Libproxy&) = delete;
  Libproxy& operator=(const Libproxy&) = delete;

  SharedLibrary library{"libproxy.so.1", "libproxy1v5"};
  decltype(&px_proxy_factory_new) newFactory;
  decltype(&px_proxy_factory_get_proxies) getProxies;
  decltype(&px_proxy_factory_free_proxies) freeProxies;
  decltype(&px_proxy_factory_free) freeFactory;
  pxProxyFactory* factory = nullptr;
};

// Null when libproxy is missing or makes no factory: then every address goes direct, as with
// WinHTTP when automatic configuration fails.
const Libproxy* libproxy() {
  static const std::unique_ptr<const Libproxy> loaded = []() -> std::unique_ptr<const Libproxy> {
    try {
      return std::make_unique<const Libproxy>();
    } catch (const OperationFailure&) {
      return nullptr;
    }
  }();
  return loaded != nullptr && loaded->factory != nullptr ? loaded.get() : nullptr;
}

struct ListDeleter {
  void operator()(char** proxies) const { libproxy()->freeProxies(proxies); }
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
  const Libproxy* const api = libproxy();
  if (api == nullptr) {
    return {};
  }
  const std::unique_ptr<char*, ListDeleter> proxies(api->getProxies(api->factory, url.c_str()));
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
