#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/cancellation.h"

namespace muvra {

inline constexpr std::uint32_t kReceiveBlockSize = 65536;
// How long a request may wait without hearing anything, as WinHTTP's receive time-out.
inline constexpr std::chrono::milliseconds kSilenceLimit{8000};
inline constexpr const char* kCannotReachGitHub =
    "Cannot reach GitHub over HTTPS. Check your connection and try again.";

// One synchronous HTTPS GET whose body goes block by block to `sink`, at most `byteLimit` bytes
// in all. Throws OperationFailure with the sentence for the user; a failure the sink throws
// leaves unchanged.
void httpsGet(std::string_view url,
              std::uint64_t byteLimit,
              const CancellationFlag& cancel,
              const ChunkSink& sink);

struct HttpsTarget {
  std::string host;
  std::string pathAndQuery;
};

// Splits an absolute https URL on port 443; empty for anything else.
std::optional<HttpsTarget> splitHttpsUrl(std::string_view url);

// The sentence for a final status other than 200.
std::string statusFailureSentence(long status);

}  // namespace muvra
