#include <time.h>
#include <unistd.h>

#include <system_error>

#include "base/failure.h"
#include "base/process.h"

namespace muvra {

std::filesystem::path modulePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || path.empty()) {
    throw OperationFailure("Cannot locate the executable path.");
  }
  return path;
}

std::uint64_t tickMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

std::uint32_t processId() {
  return static_cast<std::uint32_t>(getpid());
}

}  // namespace muvra
