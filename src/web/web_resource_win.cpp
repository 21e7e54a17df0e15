#include "web/web_resource_win.h"

#include <windows.h>

#include <shlwapi.h>

#include "base/text.h"
#include "web/interface_files.h"

namespace muvra {

namespace {

std::wstring wide(std::string_view text) {
  const std::u16string units = utf8ToUtf16Lossy(text);
  return std::wstring(units.begin(), units.end());
}

}  // namespace

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
  answer.reason = wide(response.reason);
  answer.headers = wide(response.headers);
  return answer;
}

}  // namespace muvra
