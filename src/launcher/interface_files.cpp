#include "launcher/interface_files.h"

#include "launcher/embedded_resources.h"
#include "base/configuration.h"

namespace muvra {

std::string interfaceOrigin() {
#ifdef _WIN32
  return "https://" + std::string(config::InterfaceHost) + "/";
#else
  return "muvra-ui://" + std::string(config::InterfaceHost) + "/";
#endif
}

const InterfaceFile* findInterfaceFile(std::string_view uri) {
  const std::string origin = interfaceOrigin();
  if (!uri.starts_with(origin)) {
    return nullptr;
  }
  const std::string_view path = uri.substr(origin.size());
  for (const InterfaceFile& file : kInterfaceFiles) {
    if (file.path == path) {
      return &file;
    }
  }
  return nullptr;
}

std::string_view contentTypeFor(std::string_view path) {
  if (path.find(".png") != std::string_view::npos) {
    return "image/png";
  }
  if (path.find(".css") != std::string_view::npos) {
    return "text/css";
  }
  if (path.find(".js") != std::string_view::npos) {
    return "application/javascript";
  }
  return "text/html";
}

std::string fileHeaders(std::string_view contentType) {
  return "Content-Type: " + std::string(contentType) +
         "; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff";
}

ResourceResponse respondToRequest(std::string_view uri) {
  const InterfaceFile* file = findInterfaceFile(uri);
  if (file == nullptr) {
    return {};
  }
  return fileResponse(*file, embeddedResource(file->resourceId));
}

ResourceResponse fileResponse(const InterfaceFile& file,
                              const std::optional<std::span<const std::uint8_t>>& bytes) {
  ResourceResponse response;
  response.headers = fileHeaders(contentTypeFor(file.path));
  if (!bytes || bytes->empty()) {
    response.status = 404;
    response.reason = "Not Found";
    return response;
  }
  response.status = 200;
  response.reason = "OK";
  response.body = *bytes;
  return response;
}

bool isAllowedNavigation(std::string_view uri) {
  static const std::string origin = interfaceOrigin();
  if (!uri.starts_with(origin)) {
    return false;
  }
  const std::string_view page = uri.substr(origin.size());
  return page == "index.html" || page == "loader.html";
}

}  // namespace muvra
