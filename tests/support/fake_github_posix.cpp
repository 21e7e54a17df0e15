#include "base/path_text.h"
#include "net/https_client_testing.h"
#include "support/fake_github.h"
#include "support/script_server_posix.h"

namespace muvra::testing {

FakeGitHub::FakeGitHub()
    : ownFolder_(std::make_unique<TemporaryFolder>()), folder_(ownFolder_->path()), port_(0) {
  port_ = startScriptServer({MUVRA_FAKE_GITHUB_SCRIPT, folder_.string()}, pid_);
  HttpsTestTransport transport;
  transport.extraCaFile = caFile().string();
  for (const char* host :
       {"api.github.com", "github.com", "objects.githubusercontent.com", "untrusted.test"}) {
    transport.loopbackPorts[host] = port_;
  }
  setHttpsTestTransport(transport);
}

FakeGitHub::~FakeGitHub() {
  setHttpsTestTransport({});
  stopScriptServer(pid_);
}

std::string serverPath(const std::filesystem::path& path) {
  return pathToUtf8(path);
}

}  // namespace muvra::testing
