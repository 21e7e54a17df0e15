#include "support/fake_github.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "base/path_text.h"
#include "update/https_client.h"
#include "update/https_client_testing.h"
#include "update/release.h"

namespace muvra::testing {

FakeGitHub::FakeGitHub() {
  int output[2];
  if (::pipe(output) != 0) {
    throw std::runtime_error("Could not create a pipe for the fake GitHub.");
  }
  const std::string folder = folder_.path().string();
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

void FakeGitHub::setRoutes(const nlohmann::json& routes) {
  const auto temporary = folder_ / "routes.json.tmp";
  writeFile(temporary, routes.dump());
  std::filesystem::rename(temporary, folder_ / "routes.json");
}

nlohmann::json FakeGitHub::requests() const {
  nlohmann::json list = nlohmann::json::array();
  std::ifstream log(folder_ / "requests.jsonl");
  for (std::string line; std::getline(log, line);) {
    list.push_back(nlohmann::json::parse(line));
  }
  return list;
}

std::string routeKey(const std::string& url) {
  const std::optional<HttpsTarget> target = splitHttpsUrl(url);
  return target->host + " " + target->pathAndQuery;
}

nlohmann::json releaseRoutes(const std::string& tag,
                             std::uint64_t size,
                             const std::string& digest,
                             const std::filesystem::path& served,
                             const nlohmann::json& assetRoute,
                             const nlohmann::json& releaseChanges) {
  const std::string url = assetDownloadPrefix() + tag + "/muvra.exe";
  nlohmann::json release = {{"tag_name", tag},
                            {"draft", false},
                            {"prerelease", false},
                            {"assets",
                             {{{"name", "muvra.exe"},
                               {"size", size},
                               {"browser_download_url", url},
                               {"digest", "sha256:" + digest}}}}};
  release.merge_patch(releaseChanges);
  nlohmann::json route = {{"body_file", pathToUtf8(served)}};
  route.merge_patch(assetRoute);
  return {{routeKey(latestReleaseUrl()), {{"body", release.dump()}}}, {routeKey(url), route}};
}

}  // namespace muvra::testing
