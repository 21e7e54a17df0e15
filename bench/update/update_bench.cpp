// A full check of a 64 MiB release from the fake GitHub on loopback (release document, download,
// SHA-256, executable check, move) against `curl -o` followed by `sha256sum` of the same asset,
// alternating, and prints our wall time over theirs (best round of each). Then prints the peak
// resident memory of a check of a 4 MiB and of a 64 MiB release, each in a fresh process, and
// the bytes a check of the 64 MiB release costs the server through a connection that breaks
// every 16 MiB, against curl's own resumption. Last, a check of a signed 63 MiB release with the
// publisher's key pinned against the same check without keys (alternating, best round of each),
// and what proving that installed release again at launch costs (held open, read once).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "launcher/web_loader.h"
#include "proof/executable_check.h"
#include "proof/publisher_signature.h"
#include "support/fake_github.h"
#include "support/temporary_folder.h"
#include "support/windows_program.h"
#include "update/files.h"
#include "update/release.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
constexpr std::uint64_t kMiB = 1 << 20;

// The controller needs a window only to install its callbacks; nothing is shown here.
class NoWindow : public muvra::LauncherWindow {
 public:
  void setOnClose(std::function<void()>) override {}
  void setDispatcher(muvra::Dispatcher) override {}
  bool open(const std::string&) override { return true; }
  void replyResult(std::int32_t, const json&) override {}
  void replySerializedResult(std::int32_t, std::string_view) override {}
};

struct Release {
  std::string tag;
  std::uint64_t size;
  std::string digest;
};

Release writeAsset(const fs::path& folder, std::uint64_t size) {
  Release release{std::to_string(size / kMiB) + "mib", size, ""};
  const std::string bytes = muvra::testing::windowsProgram(size, 'b');
  release.digest = muvra::testing::sha256Hex(bytes);
  muvra::testing::writeFile(folder / release.tag, bytes);
  return release;
}

json routeFor(const fs::path& folder, const Release& release) {
  return muvra::testing::releaseRoutes(release.tag, release.size, release.digest,
                                       folder / release.tag);
}

// One check into an empty loader folder; true when it ended ready.
bool checkOnce(const fs::path& loaderFolder, std::vector<std::string> publisherKeys = {}) {
  fs::remove_all(loaderFolder);
  fs::create_directories(loaderFolder);
  muvra::WebLoader loader(std::make_unique<NoWindow>());
  loader.create(muvra::layoutBeside(loaderFolder / "MuvraLoader.exe"));
  loader.setPublisherKeys(std::move(publisherKeys));
  loader.start(false);
  while (loader.state()["busy"].get<bool>()) {
    std::this_thread::yield();
  }
  return loader.state()["phase"] == "ready";
}

double seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The body bytes the server has sent for release assets so far.
std::uint64_t assetBytesSent(const muvra::testing::FakeGitHub& server) {
  std::uint64_t sent = 0;
  for (const json& answer : server.answersSent()) {
    if (answer["path"].get<std::string>().find("/releases/download/") != std::string::npos) {
      sent += answer["sent"].get<std::uint64_t>();
    }
  }
  return sent;
}

long peakRssOfCheck(const fs::path& loaderFolder) {
  const pid_t child = fork();
  if (child == 0) {
    _exit(checkOnce(loaderFolder) ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

// The best re-proof at launch of the installed file, with `pin` as the launch proves it: held open,
// its headers read, then its digest and signature in one pass. Negative when it does not prove.
double reproofAtLaunch(const fs::path& installed, const std::string& pin, int rounds) {
  double best = 1e9;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    const std::optional<muvra::HeldFile> file = muvra::HeldFile::open(installed);
    if (!file) {
      return -1;
    }
    muvra::FileReadStream stream(*file);
    const std::vector<std::string> pins{pin};
    if (!muvra::isWindowsExecutable(stream) ||
        !muvra::proveSignedFile(stream, file->size(), pins).signedByPublisher) {
      return -1;
    }
    best = std::min(best, seconds(start));
  }
  return best;
}

struct SignedFigures {
  double pinned = 1e9;
  double unpinned = 1e9;
  double reproof = -1;
};

// The best check of a signed 63 MiB release with the publisher's key pinned, and without keys.
std::optional<SignedFigures> signedAgainstUnsigned(muvra::testing::FakeGitHub& server,
                                                   const fs::path& folder,
                                                   const fs::path& loaderFolder,
                                                   int rounds) {
  const fs::path signing = folder / "signing";
  const std::string make = "python3 '" MUVRA_SIGNING_SCRIPT "' '" + signing.string() +
                           "' --large " + std::to_string(63 * kMiB);
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "could not make the signed release\n");
    return std::nullopt;
  }
  const std::string program = muvra::testing::readFile(signing / "programs" / "large.exe");
  muvra::testing::writeFile(folder / "signed", program);
  server.setRoutes(muvra::testing::releaseRoutes(
      "signed", program.size(), muvra::testing::sha256Hex(program), folder / "signed"));
  std::ifstream pins(signing / "pins.txt");
  std::string name;
  std::string pin;
  pins >> name >> pin;
  SignedFigures best;
  for (int round = 0; round < rounds; ++round) {
    for (const bool pinned : {true, false}) {
      const auto start = Clock::now();
      if (!checkOnce(loaderFolder,
                     pinned ? std::vector<std::string>{pin} : std::vector<std::string>{})) {
        std::fprintf(stderr, "the check of the signed release did not end ready\n");
        return std::nullopt;
      }
      double& figure = pinned ? best.pinned : best.unpinned;
      figure = std::min(figure, seconds(start));
    }
  }
  best.reproof = reproofAtLaunch(loaderFolder / "app" / "muvra.exe", pin, rounds);
  if (best.reproof < 0) {
    std::fprintf(stderr, "the installed signed release did not prove again\n");
    return std::nullopt;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;  // at least one round
  muvra::testing::FakeGitHub server;
  const muvra::testing::TemporaryFolder folder;
  const Release large = writeAsset(folder.path(), 64 * kMiB);
  const Release small = writeAsset(folder.path(), 4 * kMiB);
  const fs::path loaderFolder = folder / "loader";
  const fs::path peerFile = folder / "curl-download.bin";

  server.setRoutes(routeFor(folder.path(), large));
  const std::string peer =
      "curl -s --fail --connect-to github.com:443:127.0.0.1:" + std::to_string(server.port()) +
      " --cacert '" + server.caFile().string() + "' -o '" + peerFile.string() + "' '" +
      muvra::assetDownloadPrefix() + large.tag + "/muvra.exe' && sha256sum '" + peerFile.string() +
      "' >/dev/null";
  double ours = 1e9;
  double theirs = 1e9;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    if (!checkOnce(loaderFolder)) {
      std::fprintf(stderr, "the check of the 64 MiB release did not end ready\n");
      return 1;
    }
    ours = std::min(ours, seconds(start));
    fs::remove(peerFile);
    start = Clock::now();
    if (std::system(peer.c_str()) != 0) {
      std::fprintf(stderr, "curl and sha256sum failed\n");
      return 1;
    }
    theirs = std::min(theirs, seconds(start));
  }
  const long largeRss = peakRssOfCheck(loaderFolder);
  server.setRoutes(routeFor(folder.path(), small));
  const long smallRss = peakRssOfCheck(loaderFolder);

  // Through a connection that breaks every 16 MiB: what the server sent for a check, against
  // `curl -C -` asked again until the file is whole.
  const std::string assetUrl = muvra::assetDownloadPrefix() + large.tag + "/muvra.exe";
  json breaking = routeFor(folder.path(), large);
  breaking[muvra::testing::routeKey(assetUrl)].merge_patch(
      {{"etag", "\"bench\""}, {"ranges", true}, {"break_after", 16 * kMiB}});
  server.setRoutes(breaking);
  const std::uint64_t before = assetBytesSent(server);
  if (!checkOnce(loaderFolder)) {
    std::fprintf(stderr, "the check through a breaking connection did not end ready\n");
    return 1;
  }
  const std::uint64_t oursSent = assetBytesSent(server) - before;
  fs::remove(peerFile);
  const std::string resuming =
      "for try in 1 2 3 4 5 6 7 8; do curl -s -C - --connect-to github.com:443:127.0.0.1:" +
      std::to_string(server.port()) + " --cacert '" + server.caFile().string() + "' -o '" +
      peerFile.string() + "' '" + assetUrl + "' && exit 0; done; exit 1";
  if (std::system(resuming.c_str()) != 0 || fs::file_size(peerFile) != large.size) {
    std::fprintf(stderr, "curl -C - did not get the whole file\n");
    return 1;
  }
  const std::uint64_t peerSent = assetBytesSent(server) - before - oursSent;
  const std::optional<SignedFigures> signedCheck =
      signedAgainstUnsigned(server, folder.path(), loaderFolder, rounds);
  if (!signedCheck) {
    return 1;
  }
  std::printf("check: %.3f s, curl + sha256sum: %.3f s for 64 MiB (best of %d)\n", ours, theirs,
              rounds);
  std::printf("update time ratio (ours / curl + sha256sum): %.3f (target <= 1.10)\n",
              ours / theirs);
  std::printf(
      "peak RSS: %ld KiB for a 4 MiB release, %ld KiB for 64 MiB, difference %ld KiB (target < "
      "1024)\n",
      smallRss, largeRss, largeRss - smallRss);
  std::printf(
      "through a connection broken every 16 MiB: the check made the server send %.3f times the "
      "64 MiB, curl -C -: %.3f times (target <= 1.05)\n",
      static_cast<double>(oursSent) / large.size, static_cast<double>(peerSent) / large.size);
  std::printf(
      "with the publisher's key pinned: %.3f s, without keys: %.3f s for a signed 63 MiB release "
      "(best of %d; target <= 1.10)\n",
      signedCheck->pinned, signedCheck->unpinned, rounds);
  std::printf("re-proof at launch of the installed signed 63 MiB release: %.3f s (best of %d)\n",
              signedCheck->reproof, rounds);
  return largeRss < 0 || smallRss < 0 ? 1 : 0;
}
