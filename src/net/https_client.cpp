#include "net/https_client.h"

#include <cctype>
#include <cstdint>

#include "base/text.h"

namespace muvra {
namespace {

bool isValidHost(std::string_view host) {
  if (host.empty()) {
    return false;
  }
  for (const char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (!(std::isalnum(byte) || c == '-' || c == '.')) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<HttpsTarget> splitHttpsUrl(std::string_view url) {
  constexpr std::string_view scheme = "https://";
  if (!startsWithIgnoringAsciiCase(url, scheme)) {
    return std::nullopt;
  }
  std::string_view rest = url.substr(scheme.size());
  const std::size_t authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  std::string_view target =
      authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
  if (authority.find('@') != std::string_view::npos) {
    return std::nullopt;  // no credentials in release addresses
  }
  const std::size_t colon = authority.find(':');
  if (colon != std::string_view::npos) {
    const std::string_view port = authority.substr(colon + 1);
    if (!port.empty() && port != "443") {  // an empty port is the scheme's default
      return std::nullopt;
    }
    authority = authority.substr(0, colon);
  }
  if (!isValidHost(authority)) {
    return std::nullopt;
  }
  target = target.substr(0, target.find('#'));
  HttpsTarget split;
  split.host = std::string(authority);
  split.pathAndQuery =
      target.empty() || target.front() != '/' ? "/" + std::string(target) : std::string(target);
  return split;
}

namespace {

// Whether `location` names its own scheme ("scheme:" before any "/", "?" or "#").
bool hasScheme(std::string_view location) {
  const std::size_t colon = location.find(':');
  if (colon == 0 || colon == std::string_view::npos || colon > location.find_first_of("/?#") ||
      !std::isalpha(static_cast<unsigned char>(location.front()))) {
    return false;
  }
  for (const char c : location.substr(0, colon)) {
    const auto byte = static_cast<unsigned char>(c);
    if (!(std::isalnum(byte) || c == '+' || c == '-' || c == '.')) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool isRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::optional<std::string> redirectTarget(std::string_view current, std::string_view location) {
  const std::optional<HttpsTarget> from = splitHttpsUrl(current);
  if (!from || location.empty()) {
    return std::nullopt;
  }
  std::string target;
  if (hasScheme(location)) {
    target = location;
  } else if (location.starts_with("//")) {
    target = "https:" + std::string(location);
  } else if (location.front() == '/') {
    target = "https://" + from->host + std::string(location);
  } else {
    const std::string& path = from->pathAndQuery;
    const std::string withoutQuery = path.substr(0, path.find('?'));
    target = "https://" + from->host +
             (location.front() == '?' ? withoutQuery
                                      : withoutQuery.substr(0, withoutQuery.rfind('/') + 1)) +
             std::string(location);
  }
  if (!splitHttpsUrl(target)) {
    return std::nullopt;
  }
  return target.substr(0, target.find('#'));  // a fragment is the client's, never sent
}

std::optional<std::uint64_t> parseContentLength(std::string_view value) {
  const std::size_t first = value.find_first_not_of(' ');
  const std::size_t last = value.find_last_not_of(' ');
  if (first == std::string_view::npos) {
    return std::nullopt;
  }
  std::uint64_t length = 0;
  for (const char c : value.substr(first, last - first + 1)) {
    const unsigned digit = static_cast<unsigned char>(c) - '0';
    if (digit > 9 || length > (UINT64_MAX - digit) / 10) {
      return std::nullopt;
    }
    length = length * 10 + digit;
  }
  return length;
}

std::string statusFailureSentence(long status) {
  switch (status) {
    case 404:
      return "No public latest release found. The repository may be private, missing, or have "
             "no stable release.";
    case 403:
    case 429:
      return "GitHub denied or rate-limited the request. Try again later.";
    default:
      return "GitHub returned HTTP " + std::to_string(status) + ".";
  }
}

std::string rangeHeaderLines(const RangeRequest& range) {
  if (range.from == 0) {
    return {};
  }
  std::string lines = "Range: bytes=" + std::to_string(range.from) + "-\r\n";
  if (!range.ifRange.empty()) {
    lines += "If-Range: " + range.ifRange + "\r\n";
  }
  return lines;
}

bool isAcceptedStatus(long status, const RangeRequest& range) {
  return status == 200 || (status == 206 && range.from > 0);
}

}  // namespace muvra
