#pragma once

#include <string>

namespace muvra {

// The proxy the system's configuration chooses for `url`, as WinHTTP's automatic proxy does: the
// environment's variables with no_proxy, the desktop's settings, a PAC script, WPAD. Empty for a
// direct connection, otherwise the proxy's address in curl's form ("http://host:port").
std::string systemProxyFor(const std::string& url);

}  // namespace muvra
