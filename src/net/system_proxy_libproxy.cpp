#include <proxy.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/failure.h"
#include "base/shared_library.h"
#include "net/https_client.h"
#include "net/system_proxy.h"

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
    factory = newFactory();
  }

  SharedLibrary library{"libproxy.so.1", "libproxy1v5"};
  decltype(&px_proxy_factory_new) newFactory;
  decltype(&px_proxy_factory_get_proxies) getProxies;
  decltype(&px_proxy_factory_free_proxies) freeProxies;
  pxProxyFactory* factory = nullptr;
};

// Null when libproxy is missing or makes no factory: then every address goes direct, as with
// WinHTTP when automatic configuration fails. Never destroyed: a look-up its caller stopped
// waiting for may still be inside libproxy when the process exits.
const Libproxy* libproxy() {
  static const Libproxy* const loaded = []() -> const Libproxy* {
    try {
      return new Libproxy();
    } catch (const OperationFailure&) {
      return nullptr;
    }
  }();
  return loaded != nullptr && loaded->factory != nullptr ? loaded : nullptr;
}

struct ListDeleter {
  void operator()(char** proxies) const { libproxy()->freeProxies(proxies); }
};

// Asks libproxy, which may block for as long as a PAC or WPAD server keeps it waiting.
std::optional<std::string> askLibproxy(const std::string& url) {
  const Libproxy* const api = libproxy();
  if (api == nullptr) {
    return std::string();
  }
  const std::unique_ptr<char*, ListDeleter> proxies(api->getProxies(api->factory, url.c_str()));
  std::vector<std::string_view> offered;
  for (char** proxy = proxies.get(); proxy != nullptr && *proxy != nullptr; ++proxy) {
    offered.emplace_back(*proxy);
  }
  return chooseProxy(offered);
}

// One look-up, shared by the thread that asks and the caller, which may stop waiting for it.
struct Lookup {
  std::mutex lock;
  std::condition_variable answered;
  bool finished = false;
  std::optional<std::string> choice;  // nothing: no proxy curl can use, or the look-up failed
};

}  // namespace

std::string systemProxyFor(const std::string& url, const CancellationFlag& cancel) {
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, url] {
      std::optional<std::string> choice;
      try {
        choice = askLibproxy(url);
      } catch (...) {
        choice.reset();
      }
      const std::lock_guard<std::mutex> held(lookup->lock);
      lookup->choice = std::move(choice);
      lookup->finished = true;
      lookup->answered.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    throw OperationFailure("Could not create HTTPS request.");
  }
  const auto deadline = std::chrono::steady_clock::now() + kSilenceLimit;
  std::unique_lock<std::mutex> held(lookup->lock);
  while (!lookup->finished) {
    if (cancel.isSet()) {
      throw OperationFailure("Cancelled.");
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw OperationFailure(kCannotReachGitHub);
    }
    lookup->answered.wait_for(held, std::chrono::milliseconds(100));
  }
  if (!lookup->choice) {
    throw OperationFailure(kCannotReachGitHub);
  }
  return *lookup->choice;
}

}  // namespace muvra
