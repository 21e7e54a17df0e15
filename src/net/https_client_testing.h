#pragma once

#include <map>
#include <string>

// Test-only transport of the Linux client: an extra trusted CA and hosts answered on loopback.
// Only tests link code that calls this; nothing a user sets reaches it.
namespace muvra::testing {

struct HttpsTestTransport {
  std::string extraCaFile;
  std::map<std::string, int> loopbackPorts;  // host -> port on 127.0.0.1
};

void setHttpsTestTransport(const HttpsTestTransport& transport);

}  // namespace muvra::testing
