#include "net/download_resume.h"

#include <charconv>
#include <string_view>

namespace muvra {

namespace {

// Only visible ASCII and spaces ever go back into a request header.
bool isHeaderSafe(std::string_view value) {
  for (const char c : value) {
    if (c < 0x20 || c > 0x7E) {
      return false;
    }
  }
  return !value.empty();
}

std::optional<std::uint64_t> number(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// "bytes <first>-<last>/<length>", the length possibly "*".
bool isRange(std::string_view contentRange,
             std::uint64_t first,
             std::uint64_t last,
             std::uint64_t length) {
  constexpr std::string_view kUnit = "bytes ";
  if (!contentRange.starts_with(kUnit)) {
    return false;
  }
  contentRange.remove_prefix(kUnit.size());
  const std::size_t dash = contentRange.find('-');
  const std::size_t slash = contentRange.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
    return false;
  }
  const std::string_view total = contentRange.substr(slash + 1);
  return number(contentRange.substr(0, dash)) == first &&
         number(contentRange.substr(dash + 1, slash - dash - 1)) == last &&
         (total == "*" || number(total) == length);
}

}  // namespace

std::optional<std::string> resumeValidator(const AnswerFacts& first) {
  if (!first.etag.starts_with("W/") && isHeaderSafe(first.etag)) {
    return first.etag;
  }
  if (isHeaderSafe(first.lastModified)) {
    return first.lastModified;
  }
  return std::nullopt;
}

std::chrono::milliseconds resumeDelay(int attempt) {
  return std::chrono::milliseconds(1000 << (attempt - 1));
}

ResumeVerdict judgeResumeAnswer(const AnswerFacts& answer,
                                std::uint64_t have,
                                std::uint64_t size,
                                const std::string& validator) {
  if (answer.status == 200) {
    return ResumeVerdict::StartOver;
  }
  if (answer.status != 206 || have >= size || !isRange(answer.contentRange, have, size - 1, size)) {
    return ResumeVerdict::Refuse;
  }
  // A partial answer that names its file must name the one the first bytes came from, by the
  // kind of validator asked with (entity tags are quoted, dates are not).
  const std::string& named = validator.starts_with('"') ? answer.etag : answer.lastModified;
  if (!named.empty() && named != validator) {
    return ResumeVerdict::Refuse;
  }
  return ResumeVerdict::Continue;
}

}  // namespace muvra
