#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/cancellation.h"

namespace muvra {

// The proxy the system's configuration chooses for `url`, as WinHTTP's automatic proxy does: the
// environment's variables with no_proxy, the desktop's settings, a PAC script, WPAD. Empty for a
// direct connection, otherwise the proxy's address in curl's form ("http://host:port"). The
// look-up ends with "Cancelled." once `cancel` is set and with the cannot-reach sentence when the
// configuration stays silent for the receive time-out (a PAC or WPAD server that never answers).
std::string systemProxyFor(const std::string& url, const CancellationFlag& cancel);

// The first entry of the system's answer, in order of preference and in libproxy's form
// ("direct://", "http://host:port", "socks://host:port", ...), that curl can use: empty for
// "direct://", otherwise the proxy in curl's form. No entry at all means direct, as WinHTTP when
// automatic configuration fails; entries that name only proxies curl cannot use give nothing,
// and the request must not go out.
std::optional<std::string> chooseProxy(std::span<const std::string_view> offered);

}  // namespace muvra
