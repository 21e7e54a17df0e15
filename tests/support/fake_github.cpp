#include "support/fake_github.h"

#include <fstream>

#include "base/path_text.h"
#include "net/https_client.h"
#include "update/release.h"

namespace muvra::testing {

void FakeGitHub::setRoutes(const nlohmann::json& routes) {
  nlohmann::json translated = routes;
  for (auto& [key, route] : translated.items()) {
    for (const char* member : {"body_file", "gate"}) {
      if (route.contains(member)) {
        route[member] = serverPath(pathFromUtf8(route[member].get<std::string>()));
      }
    }
  }
  const auto temporary = folder_ / "routes.json.tmp";
  writeFile(temporary, translated.dump());
  std::filesystem::rename(temporary, folder_ / "routes.json");
}

namespace {

nlohmann::json readLog(const std::filesystem::path& file) {
  nlohmann::json list = nlohmann::json::array();
  std::ifstream log(file);
  for (std::string line; std::getline(log, line);) {
    list.push_back(nlohmann::json::parse(line));
  }
  return list;
}

}  // namespace

nlohmann::json FakeGitHub::requests() const {
  return readLog(folder_ / "requests.jsonl");
}

nlohmann::json FakeGitHub::answersSent() const {
  return readLog(folder_ / "sent.jsonl");
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
