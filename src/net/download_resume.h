#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "net/https_client.h"

namespace muvra {

// An asset download that breaks off after some bytes arrived asks again for the rest from the
// same address, as long as the first answer named a validator that If-Range can carry.
inline constexpr int kMostResumptions = 3;

// The If-Range value of a first answer: its strong ETag, else its Last-Modified date; nothing
// when it has neither (a weak ETag cannot make a range conditional).
std::optional<std::string> resumeValidator(const AnswerFacts& first);

// How long to wait before resumption `attempt` (1, 2 or 3): 1, 2 and 4 seconds.
std::chrono::milliseconds resumeDelay(int attempt);

enum class ResumeVerdict {
  Continue,   // 206 with exactly the missing bytes of the same file: append them
  StartOver,  // 200: the whole file again, from byte 0
  Refuse,     // anything else: the download cannot go on
};

// The answer to a resumption that asked for bytes `have` to `size` - 1 with `validator`.
ResumeVerdict judgeResumeAnswer(const AnswerFacts& answer,
                                std::uint64_t have,
                                std::uint64_t size,
                                const std::string& validator);

}  // namespace muvra
