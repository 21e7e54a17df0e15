#include "net/system_proxy.h"

#include <array>
#include <utility>

namespace muvra {

namespace {

// libproxy's scheme for a proxy and curl's for the same proxy. "socks://" is a PAC "SOCKS"
// entry or the desktop's SOCKS host, which name no version: SOCKS 5 as browsers read PAC's
// "SOCKS" today, with the proxy resolving names so that none are looked up around it.
constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kSchemes = {{
    {"http://", "http://"},
    {"https://", "https://"},
    {"socks://", "socks5h://"},
    {"socks4://", "socks4://"},
    {"socks4a://", "socks4a://"},
    {"socks5://", "socks5://"},
    {"socks5h://", "socks5h://"},
}};

}  // namespace

std::optional<std::string> chooseProxy(std::span<const std::string_view> offered) {
  if (offered.empty()) {
    return std::string();
  }
  for (const std::string_view proxy : offered) {
    if (proxy == "direct://") {
      return std::string();
    }
    for (const auto& [system, curl] : kSchemes) {
      if (proxy.starts_with(system) && proxy.size() > system.size()) {
        return std::string(curl).append(proxy.substr(system.size()));
      }
    }
  }
  return std::nullopt;
}

}  // namespace muvra
