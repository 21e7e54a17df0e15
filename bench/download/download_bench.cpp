// Fetches a 64 MiB asset from the fake GitHub on loopback with httpsGet into a file and with the
// curl command line, alternating, and prints our wall time over curl's (best round of each).
// Then prints the peak resident memory of a fetch of 4 MiB and of 64 MiB, each in a fresh process.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/fake_github.h"
#include "update/files.h"
#include "update/https_client.h"

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
  double ours = 1e9;
  double peer = 1e9;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    fetchToFile(64 * kMiB, file);
    ours = std::min(ours, seconds(start));
    if (std::filesystem::file_size(file) != 64 * kMiB)
      return 1;
    std::filesystem::remove(file);
    start = Clock::now();
    if (std::system(curl.c_str()) != 0)
      return 1;
    peer = std::min(peer, seconds(start));
  }
  const long small = peakRssOfFetch(4 * kMiB, file);
  const long large = peakRssOfFetch(64 * kMiB, file);
  std::filesystem::remove(file);
  std::printf("httpsGet: %.3f s, curl: %.3f s for 64 MiB (best of %d)\n", ours, peer, rounds);
  std::printf("download time ratio (ours / curl): %.3f (target <= 1.05)\n", ours / peer);
  std::printf(
      "peak RSS: %ld KiB for 4 MiB, %ld KiB for 64 MiB, difference %ld KiB (target < 1024)\n",
      small, large, large - small);
  return 0;
}
