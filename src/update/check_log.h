#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "net/https_client.h"

namespace muvra {

// The log of checks, beside the start-up log and keyed like the profile: what GitHub said when
// it refused, so that a rate limit can be told from a denial.
std::filesystem::path checkLogPath(const std::filesystem::path& profileRoot,
                                   const std::filesystem::path& executable);

// "<time> refused status=<n> retry-after=<value> x-ratelimit-reset=<seconds> (<UTC time>)", the
// time in UTC as "YYYY-MM-DDTHH:MM:SSZ"; headers GitHub did not send are left out.
std::string refusalLogLine(std::int64_t now, const AnswerFacts& answer);

// Appends the line for a 403 or 429 answer; nothing for any other, nor when `log` is empty.
void logRefusal(const std::filesystem::path& log, const AnswerFacts& answer) noexcept;

// "<time> older release=<version> verified=<version>: <sentence>", when a release goes back from
// the version this computer verified.
std::string olderReleaseLogLine(std::int64_t now,
                                const std::string& release,
                                const std::string& verified,
                                const std::string& sentence);

// Appends that line; nothing when `log` is empty.
void logOlderRelease(const std::filesystem::path& log,
                     const std::string& release,
                     const std::string& verified,
                     const std::string& sentence) noexcept;

// "<time> launch refused: app/muvra.exe is no longer the verified release <tag>: <reason>",
// the time as refusalLogLine writes it.
std::string launchRefusalLogLine(std::int64_t now, const std::string& tag, std::string_view reason);

// Appends the line for an installed file that failed its proof at launch; nothing when `log` is
// empty.
void logLaunchRefusal(const std::filesystem::path& log,
                      const std::string& tag,
                      std::string_view reason) noexcept;

// Seconds since 1970 in UTC as "YYYY-MM-DDTHH:MM:SSZ".
std::string utcText(std::int64_t seconds);

}  // namespace muvra
