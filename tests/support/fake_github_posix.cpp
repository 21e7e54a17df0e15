#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "base/path_text.h"
#include "support/fake_github.h"
#include "update/https_client_testing.h"

namespace muvra::testing {

FakeGitHub::FakeGitHub()
    : ownFolder_(std::make_unique<TemporaryFolder>()), folder_(ownFolder_->path()), port_(0) {
  int output[2];
  if (::pipe(output) != 0) {
    throw std::runtime_error("Could not create a pipe for the fake GitHub.");
  }
  const std::string folder = folder_.string();
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(output[1], STDOUT_FILENO);
    ::close(output[0]);
    ::close(output[1]);
    ::execlp("python3", "python3", MUVRA_FAKE_GITHUB_SCRIPT, folder.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(output[1]);
  FILE* stream = ::fdopen(output[0], "r");
  char line[64] = {};
  const bool started = stream != nullptr && std::fgets(line, sizeof(line), stream) != nullptr &&
                       std::sscanf(line, "PORT %d", &port_) == 1;
  if (stream != nullptr)
    std::fclose(stream);
  if (!started) {
    throw std::runtime_error("The fake GitHub did not start.");
  }
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
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string serverPath(const std::filesystem::path& path) {
  return pathToUtf8(path);
}

}  // namespace muvra::testing
