#pragma once

#include <objidl.h>

#include <string>
#include <string_view>

#include "window/com_win.h"

namespace muvra {

// What the browser view's resource handler hands to CreateWebResourceResponse for one request.
struct WebResourceAnswer {
  ComRef<IStream> content;  // a copy of the embedded bytes; null for no content
  int status = 403;
  std::wstring reason;
  std::wstring headers;
};

WebResourceAnswer webResourceAnswer(std::string_view uri);

}  // namespace muvra
