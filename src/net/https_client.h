#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/cancellation.h"

namespace muvra {

inline constexpr std::uint32_t kReceiveBlockSize = 65536;
inline constexpr int kMostRedirects = 10;  // as WinHTTP's own limit
// How long a request may wait without hearing anything, as WinHTTP's receive time-out.
inline constexpr std::chrono::milliseconds kSilenceLimit{8000};
inline constexpr const char* kCannotReachGitHub =
    "Cannot reach GitHub over HTTPS. Check your connection and try again.";

inline constexpr const char* kDownloadInterrupted =
    "The download was interrupted. Your previous installation was kept.";

// The rest of a body asked for again: "Range: bytes=<from>-" with "If-Range: <ifRange>".
struct RangeRequest {
  std::uint64_t from = 0;  // 0: the whole body, no Range header
  std::string ifRange;
};

// What the final answer says of itself beside its status; empty where a header is missing.
struct AnswerFacts {
  long status = 0;
  std::string etag;
  std::string lastModified;
  std::string contentRange;
  std::string retryAfter;
  std::string rateLimitReset;  // x-ratelimit-reset
};

// Called once with the final answer, before its status is mapped and before any body byte
// reaches the sink; may throw an OperationFailure, which ends the call.
using AnswerCheck = std::function<void(const AnswerFacts& answer)>;

// One synchronous HTTPS GET whose body goes block by block to `sink`, at most `byteLimit` bytes
// in all. Throws OperationFailure with the sentence for the user; a failure the sink throws
// leaves unchanged. With `range.from` above 0 a partial answer (206) passes as well as 200, for
// `check` to judge.
void httpsGet(std::string_view url,
              std::uint64_t byteLimit,
              const CancellationFlag& cancel,
              const ChunkSink& sink,
              const RangeRequest& range = {},
              const AnswerCheck& check = {});

// The header lines a request adds for `range`, each ending in CR LF; empty for the whole body.
std::string rangeHeaderLines(const RangeRequest& range);

// Whether a final answer's status lets its body through: 200, and 206 for a range request.
bool isAcceptedStatus(long status, const RangeRequest& range);

struct HttpsTarget {
  std::string host;
  std::string pathAndQuery;
};

// Splits an absolute https URL on port 443; empty for anything else.
std::optional<HttpsTarget> splitHttpsUrl(std::string_view url);

// Whether a status asks the client to go elsewhere (with a Location).
bool isRedirect(long status);

// Where a redirect's Location leads from `current`, resolved as a browser resolves it (an
// absolute address, "//host/path", "/path", "?query" or a path relative to the current one's
// folder), when the target passes the rules of the first address: https on port 443, no user
// information, a valid host; without its fragment. Empty for any other target.
std::optional<std::string> redirectTarget(std::string_view current, std::string_view location);

// A Content-Length value: decimal digits within 64 bits, spaces around them allowed.
std::optional<std::uint64_t> parseContentLength(std::string_view value);

// The sentence for a final status other than 200.
std::string statusFailureSentence(long status);

}  // namespace muvra
