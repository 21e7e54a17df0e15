#include "net/https_client.h"

#include <cctype>

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
