// Fetches a 64 MiB asset from the fake GitHub on loopback with httpsGet into a file and with the
// curl command line, alternating, and prints our wall time over curl's (best round of each).
// Then the same through a real proxy (tinyproxy on loopback) that both reach by CONNECT, and the
// peak resident memory of a fetch of 4 MiB and of 64 MiB, each in a fresh process.
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "net/https_client.h"
#include "support/fake_github.h"
#include "update/files.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kMiB = 1 << 20;

void fetchToFile(std::uint64_t size, const std::filesystem::path& file) {
  std::filesystem::remove(file);
  auto out = muvra::NewFile::create(file);
  muvra::CancellationFlag cancel;
  muvra::httpsGet("https://github.com/asset/" + std::to_string(size), size, cancel,
                  [&](const std::uint8_t* data, std::uint32_t count) { out->write(data, count); });
  out->close();
}

double seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident memory, in KiB, of a child process that fetches `size` bytes.
long peakRssOfFetch(std::uint64_t size, const std::filesystem::path& file) {
  const pid_t child = fork();
  if (child == 0) {
    fetchToFile(size, file);
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  return usage.ru_maxrss;
}

// A port nobody listens on now, for the proxy.
int freePort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  close(probe);
  return ntohs(address.sin_port);
}

bool listening(int port) {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return connected;
}

// tinyproxy on 127.0.0.1:`port`, every CONNECT port allowed, until it goes.
class Tinyproxy {
 public:
  Tinyproxy(int port, const std::filesystem::path& folder) {
    const std::filesystem::path settings = folder / "muvra-bench-tinyproxy.conf";
    std::ofstream(settings) << "Port " << port << "\nListen 127.0.0.1\nAllow 127.0.0.1\n"
                            << "MaxClients 20\nLogLevel Critical\n";
    pid_ = fork();
    if (pid_ == 0) {
      execlp("tinyproxy", "tinyproxy", "-d", "-c", settings.c_str(), nullptr);
      _exit(127);
    }
    for (int tries = 0; tries < 500 && !listening(port); ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Tinyproxy() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Tinyproxy(const Tinyproxy&) = delete;
  Tinyproxy& operator=(const Tinyproxy&) = delete;

 private:
  pid_t pid_;
};

// Best rounds of ours and of curl fetching 64 MiB, alternating; false when a fetch failed.
bool bestRounds(int rounds,
                const std::string& curl,
                const std::filesystem::path& file,
                double& ours,
                double& peer) {
  ours = peer = 1e9;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    fetchToFile(64 * kMiB, file);
    ours = std::min(ours, seconds(start));
    if (std::filesystem::file_size(file) != 64 * kMiB)
      return false;
    std::filesystem::remove(file);
    start = Clock::now();
    if (std::system(curl.c_str()) != 0)
      return false;
    peer = std::min(peer, seconds(start));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;  // at least one round
  muvra::testing::FakeGitHub server;
  server.setRoutes({{"github.com /asset/" + std::to_string(64 * kMiB), {{"body_size", 64 * kMiB}}},
                    {"github.com /asset/" + std::to_string(4 * kMiB), {{"body_size", 4 * kMiB}}}});
  const auto file = std::filesystem::temp_directory_path() / "muvra-bench-download.bin";
  const std::string curl =
      "curl -s --fail --connect-to github.com:443:127.0.0.1:" + std::to_string(server.port()) +
      " --cacert '" + server.caFile().string() + "' -o '" + file.string() +
      "' https://github.com/asset/" + std::to_string(64 * kMiB);
  double ours = 0;
  double peer = 0;
  if (!bestRounds(rounds, curl, file, ours, peer))
    return 1;
  double oursProxied = 0;
  double peerProxied = 0;
  {
    const int port = freePort();
    const Tinyproxy proxy(port, std::filesystem::temp_directory_path());
    const std::string address = "http://127.0.0.1:" + std::to_string(port);
    setenv("https_proxy", address.c_str(), 1);
    if (!bestRounds(rounds, curl + " --proxy " + address, file, oursProxied, peerProxied))
      return 1;
    unsetenv("https_proxy");
  }
  const long small = peakRssOfFetch(4 * kMiB, file);
  const long large = peakRssOfFetch(64 * kMiB, file);
  std::filesystem::remove(file);
  std::printf("httpsGet: %.3f s, curl: %.3f s for 64 MiB (best of %d)\n", ours, peer, rounds);
  std::printf("download time ratio (ours / curl): %.3f (target <= 1.05)\n", ours / peer);
  std::printf("through tinyproxy: httpsGet: %.3f s, curl: %.3f s for 64 MiB (best of %d)\n",
              oursProxied, peerProxied, rounds);
  std::printf(
      "peak RSS: %ld KiB for 4 MiB, %ld KiB for 64 MiB, difference %ld KiB (target < 1024)\n",
      small, large, large - small);
  return 0;
}
