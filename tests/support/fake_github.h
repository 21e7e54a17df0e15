#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "support/temporary_folder.h"

namespace muvra::testing {

// The fake GitHub server (fake_github.py) answering the GitHub hosts. Natively it runs in a
// process of its own on a loopback port and the HTTPS client is pointed at it while it lives.
// Under Wine the harness (tests/wine/with_fake_github.py) runs one on port 443 of a private
// network, named by MUVRA_TEST_FAKE_GITHUB; each instance starts it with no routes and no log.
class FakeGitHub {
 public:
  FakeGitHub();
  ~FakeGitHub();
  FakeGitHub(const FakeGitHub&) = delete;
  FakeGitHub& operator=(const FakeGitHub&) = delete;

  // Routes keyed "host path", as fake_github.py describes; file paths in "body_file" and "gate"
  // are this process's own and are handed to the server as it sees them.
  void setRoutes(const nlohmann::json& routes);
  // Every request received so far, oldest first.
  nlohmann::json requests() const;
  // How many bytes of its body each answer sent, oldest first ({"path", "status", "sent"}).
  nlohmann::json answersSent() const;
  int port() const { return port_; }
  std::filesystem::path caFile() const { return folder_ / "ca.pem"; }

 private:
  std::unique_ptr<TemporaryFolder> ownFolder_;  // natively: the server's folder
  std::filesystem::path folder_;
  int pid_ = -1;
  int port_ = 443;
};

// A path of this process as the fake GitHub's process names it.
std::string serverPath(const std::filesystem::path& path);

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
