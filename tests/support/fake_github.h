#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "support/temporary_folder.h"

namespace muvra::testing {

// The fake GitHub server (fake_github.py) in a process of its own, answering the GitHub hosts
// on a loopback port. While it lives, the HTTPS client is pointed at it.
class FakeGitHub {
 public:
  FakeGitHub();
  ~FakeGitHub();
  FakeGitHub(const FakeGitHub&) = delete;
  FakeGitHub& operator=(const FakeGitHub&) = delete;

  // Routes keyed "host path", as fake_github.py describes.
  void setRoutes(const nlohmann::json& routes);
  // Every request received so far, oldest first.
  nlohmann::json requests() const;
  int port() const { return port_; }
  std::filesystem::path caFile() const { return folder_ / "ca.pem"; }

 private:
  TemporaryFolder folder_;
  int pid_ = -1;
  int port_ = 0;
};

// The "host path" key under which the route of an https address is found.
std::string routeKey(const std::string& url);

// Routes that publish the file `served` (`size` bytes, SHA-256 `digest`) as the latest release
// `tag`; `assetRoute` and `releaseChanges` are merged into the asset route and the document.
nlohmann::json releaseRoutes(const std::string& tag,
                             std::uint64_t size,
                             const std::string& digest,
                             const std::filesystem::path& served,
                             const nlohmann::json& assetRoute = nlohmann::json::object(),
                             const nlohmann::json& releaseChanges = nlohmann::json::object());

}  // namespace muvra::testing
