#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace muvra {

// The private origin the embedded pages are served from, ending in "/". Windows serves it as
// https; WebKitGTK cannot serve https itself, so Linux uses a custom scheme registered secure.
std::string interfaceOrigin();

struct InterfaceFile {
  std::string_view path;  // relative to the interface origin
  int resourceId;
};

inline constexpr std::array<InterfaceFile, 9> kInterfaceFiles = {{
    {"index.html", 201},
    {"loader.html", 203},
    {"styles.css", 204},
    {"loader.css", 205},
    {"app.js", 206},
    {"loader.js", 208},
    {"version.js", 209},
    {"images/mm2.png", 210},
    {"images/bloom.png", 211},
}};

// The file a request address names, compared whole and case-sensitively; null for any other.
const InterfaceFile* findInterfaceFile(std::string_view uri);

// By the first of ".png", ".css", ".js" the path contains; "text/html" otherwise.
std::string_view contentTypeFor(std::string_view path);

// Header lines (CR LF between them, none after) of a served or missing file.
std::string fileHeaders(std::string_view contentType);
inline constexpr std::string_view kBlockedHeaders = "Content-Type: text/plain";

struct ResourceResponse {
  int status = 403;
  std::string reason = "Blocked";
  std::string headers = std::string(kBlockedHeaders);
  std::span<const std::uint8_t> body;
};

// The answer to one request of the browser view: the embedded file, 404 when its bytes are
// missing, 403 "Blocked" for everything else.
ResourceResponse respondToRequest(std::string_view uri);

// The answer for a known file whose bytes were looked up (none: 404 with its content type).
ResourceResponse fileResponse(const InterfaceFile& file,
                              const std::optional<std::span<const std::uint8_t>>& bytes);

// Whether the view may navigate to `uri`: only the two pages, exactly.
bool isAllowedNavigation(std::string_view uri);

}  // namespace muvra
