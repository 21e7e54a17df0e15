#include "window/web_resource_win.h"

#include <windows.h>

#include <shlwapi.h>

#include "base/wide_text_win.h"
#include "launcher/interface_files.h"

namespace muvra {

WebResourceAnswer webResourceAnswer(std::string_view uri) {
  ResourceResponse response = respondToRequest(uri);
  WebResourceAnswer answer;
  if (response.status == 200) {
    // SHCreateMemStream copies the bytes; bytes it cannot wrap are answered as missing.
    answer.content = ComRef<IStream>::adopt(
        SHCreateMemStream(response.body.data(), static_cast<UINT>(response.body.size())));
    if (!answer.content) {
      response = fileResponse(*findInterfaceFile(uri), std::nullopt);
    }
  }
  answer.status = response.status;
  answer.reason = wideText(response.reason);
  answer.headers = wideText(response.headers);
  return answer;
}

}  // namespace muvra
