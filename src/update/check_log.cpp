#include "update/check_log.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>

#include "update/profile.h"
#include "update/user_data_folder.h"

namespace muvra {

namespace {

std::int64_t secondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Appends the line made at this time; the log only ever helps, so nothing here fails a check.
void append(const std::filesystem::path& log,
            const std::function<std::string(std::int64_t now)>& line) noexcept {
  if (log.empty()) {
    return;
  }
  try {
    if (createFolders(log.parent_path(), log.parent_path())) {
      return;
    }
    std::ofstream(log, std::ios::app) << line(secondsNow());
  } catch (...) {
  }
}

}  // namespace

std::filesystem::path checkLogPath(const std::filesystem::path& profileRoot,
                                   const std::filesystem::path& executable) {
  return profileRoot / (profileKey(executable) + "-checks.log");
}

std::string utcText(std::int64_t seconds) {
  // Days to the civil date (proleptic Gregorian), after H. Hinnant's days_from_civil inverse.
  const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const std::int64_t inDay = seconds - days * 86400;
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[96];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(inDay / 3600),
                static_cast<long long>(inDay % 3600 / 60), static_cast<long long>(inDay % 60));
  return text;
}

std::string refusalLogLine(std::int64_t now, const AnswerFacts& answer) {
  std::string line = utcText(now) + " refused status=" + std::to_string(answer.status);
  if (!answer.retryAfter.empty()) {
    line += " retry-after=" + answer.retryAfter;
  }
  if (!answer.rateLimitReset.empty()) {
    line += " x-ratelimit-reset=" + answer.rateLimitReset;
    std::int64_t reset = 0;
    const std::string& text = answer.rateLimitReset;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), reset);
    if (error == std::errc() && end == text.data() + text.size()) {
      line += " (" + utcText(reset) + ")";
    }
  }
  return line + "\n";
}

void logRefusal(const std::filesystem::path& log, const AnswerFacts& answer) noexcept {
  if (answer.status == 403 || answer.status == 429) {
    append(log, [&](std::int64_t now) { return refusalLogLine(now, answer); });
  }
}

std::string olderReleaseLogLine(std::int64_t now,
                                const std::string& release,
                                const std::string& verified,
                                const std::string& sentence) {
  return utcText(now) + " older release=" + release + " verified=" + verified + ": " + sentence +
         "\n";
}

void logOlderRelease(const std::filesystem::path& log,
                     const std::string& release,
                     const std::string& verified,
                     const std::string& sentence) noexcept {
  append(log,
         [&](std::int64_t now) { return olderReleaseLogLine(now, release, verified, sentence); });
}

std::string launchRefusalLogLine(std::int64_t now,
                                 const std::string& tag,
                                 std::string_view reason) {
  return utcText(now) + " launch refused: app/muvra.exe is no longer the verified release " + tag +
         ": " + std::string(reason) + "\n";
}

void logLaunchRefusal(const std::filesystem::path& log,
                      const std::string& tag,
                      std::string_view reason) noexcept {
  append(log, [&](std::int64_t now) { return launchRefusalLogLine(now, tag, reason); });
}

}  // namespace muvra
