// Hashes one 64 MiB file with sha256File and with `openssl dgst -sha256`, alternating, and
// prints the ratio of our throughput to openssl's (best round of each).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "proof/sha256.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

std::string runOpenssl(const std::filesystem::path& file) {
  const std::string command = "openssl dgst -sha256 -r '" + file.string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return "";
  }
  char line[256] = {};
  const bool read = std::fgets(line, sizeof(line), pipe) != nullptr;
  pclose(pipe);
  return read ? std::string(line).substr(0, 64) : "";
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;  // at least one round
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "muvra-bench-64mib.bin";
  {
    std::vector<char> block(1 << 20);
    std::mt19937 random(42);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (int mib = 0; mib < 64; ++mib) {
      for (char& byte : block)
        byte = static_cast<char>(random());
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  double ours = 1e9;
  double peer = 1e9;
  std::string ourDigest;
  std::string peerDigest;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    ourDigest = muvra::sha256File(file);
    ours = std::min(ours, seconds(Clock::now() - start));
    start = Clock::now();
    peerDigest = runOpenssl(file);
    peer = std::min(peer, seconds(Clock::now() - start));
  }
  std::filesystem::remove(file);
  if (ourDigest != peerDigest) {
    std::fprintf(stderr, "digests differ: %s vs %s\n", ourDigest.c_str(), peerDigest.c_str());
    return 1;
  }
  const double mib = 64.0;
  std::printf("sha256File: %.0f MiB/s, openssl dgst: %.0f MiB/s (best of %d)\n", mib / ours,
              mib / peer, rounds);
  std::printf("sha256 throughput ratio (ours / openssl): %.3f (target >= 0.95)\n", peer / ours);
  return 0;
}
