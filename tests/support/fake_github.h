#pragma once

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

}  // namespace muvra::testing
