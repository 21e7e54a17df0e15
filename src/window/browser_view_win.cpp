// The view: its settings, the handlers of its events, and the page's messages both ways.
#include <windows.h>

#include "launcher/bridge.h"
#include "launcher/interface_files.h"
#include "window/startup.h"
#include "window/web_resource_win.h"
#include "window/web_window_win_host.h"

namespace muvra {

namespace {

// A string a getter of the view allocates, freed with CoTaskMemFree; absent when it failed.
template <typename Getter>
std::optional<std::string> viewString(Getter get) {
  LPWSTR text = nullptr;
  const HRESULT result = get(&text);
  std::optional<std::string> value;
  if (SUCCEEDED(result) && text != nullptr) {
    value = utf16ToUtf8Lossy(reinterpret_cast<const char16_t*>(text));
  }
  CoTaskMemFree(text);
  return value;
}

}  // namespace

void WebWindow::Host::configureView() {
  ComRef<ICoreWebView2Settings> settings;
  if (SUCCEEDED(webview->get_Settings(settings.put())) && settings) {
    settings->put_AreDefaultContextMenusEnabled(FALSE);
    settings->put_AreDevToolsEnabled(FALSE);
    settings->put_AreDefaultScriptDialogsEnabled(FALSE);
    settings->put_IsStatusBarEnabled(FALSE);
    const auto keys = settings.query<ICoreWebView2Settings3>(IID_ICoreWebView2Settings3);
    if (keys) {
      keys->put_AreBrowserAcceleratorKeysEnabled(FALSE);
    }
  }
  webview->AddWebResourceRequestedFilter(L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL);
  EventRegistrationToken token;
  webview->add_WebResourceRequested(
      guarded<ICoreWebView2WebResourceRequestedEventHandler,
              IID_ICoreWebView2WebResourceRequestedEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2WebResourceRequestedEventArgs* args) {
            handleResourceRequest(args);
          })
          .get(),
      &token);
  webview->add_WebMessageReceived(
      guarded<ICoreWebView2WebMessageReceivedEventHandler,
              IID_ICoreWebView2WebMessageReceivedEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
            handleWebMessage(args);
          })
          .get(),
      &token);
  webview->add_NavigationStarting(
      guarded<ICoreWebView2NavigationStartingEventHandler,
              IID_ICoreWebView2NavigationStartingEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
            handleNavigationStarting(args);
          })
          .get(),
      &token);
  webview->add_NewWindowRequested(
      makeHandler<ICoreWebView2NewWindowRequestedEventHandler,
                  IID_ICoreWebView2NewWindowRequestedEventHandler>(
          [](ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs* args) {
            args->put_Handled(TRUE);
          })
          .get(),
      &token);
  webview->add_PermissionRequested(
      makeHandler<ICoreWebView2PermissionRequestedEventHandler,
                  IID_ICoreWebView2PermissionRequestedEventHandler>(
          [](ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs* args) {
            args->put_State(COREWEBVIEW2_PERMISSION_STATE_DENY);
          })
          .get(),
      &token);
  webview->add_NavigationCompleted(
      guarded<ICoreWebView2NavigationCompletedEventHandler,
              IID_ICoreWebView2NavigationCompletedEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs* args) {
            navigationCompleted(args);
          })
          .get(),
      &token);
  webview->add_ProcessFailed(
      guarded<ICoreWebView2ProcessFailedEventHandler, IID_ICoreWebView2ProcessFailedEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2ProcessFailedEventArgs* args) {
            processFailed(args);
          })
          .get(),
      &token);
}

void WebWindow::Host::navigate(const std::string& page) {
  startPage = page;
  if (webview) {
    ready = false;
    webview->Navigate(wideText(interfaceOrigin() + page).c_str());
  }
}

void WebWindow::Host::handleResourceRequest(ICoreWebView2WebResourceRequestedEventArgs* args) {
  ComRef<ICoreWebView2WebResourceRequest> request;
  std::optional<std::string> uri;
  if (SUCCEEDED(args->get_Request(request.put())) && request) {
    uri = viewString([&](LPWSTR* text) { return request->get_Uri(text); });
  }
  const WebResourceAnswer answer = webResourceAnswer(uri.value_or(""));
  ComRef<ICoreWebView2WebResourceResponse> response;
  if (environment && SUCCEEDED(environment->CreateWebResourceResponse(
                         answer.content.get(), answer.status, answer.reason.c_str(),
                         answer.headers.c_str(), response.put()))) {
    args->put_Response(response.get());
  }
}

void WebWindow::Host::handleNavigationStarting(ICoreWebView2NavigationStartingEventArgs* args) {
  const std::optional<std::string> uri =
      viewString([args](LPWSTR* text) { return args->get_Uri(text); });
  if (!uri || !isAllowedNavigation(*uri)) {
    args->put_Cancel(TRUE);
  }
}

void WebWindow::Host::handleWebMessage(ICoreWebView2WebMessageReceivedEventArgs* args) {
  const std::optional<std::string> sender =
      viewString([args](LPWSTR* text) { return args->get_Source(text); });
  const std::optional<std::string> message =
      viewString([args](LPWSTR* text) { return args->get_WebMessageAsJson(text); });
  bridge.onWebMessage(sender, message);
}

void WebWindow::Host::navigationCompleted(ICoreWebView2NavigationCompletedEventArgs* args) {
  unresponsive.navigationCompleted();
  BOOL success = FALSE;
  args->get_IsSuccess(&success);
  if (!success) {
    // A navigation the guard cancelled ends so too, and the page stays; only a failed load of
    // the page is a failure.
    COREWEBVIEW2_WEB_ERROR_STATUS error = COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN;
    args->get_WebErrorStatus(&error);
    if (error != COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED) {
      showText("The embedded interface could not load.");
    }
    return;
  }
  startup.statusText.clear();
  ready = true;
  logStartupStage(startup, "Ready", 0);
  if (onReady) {
    onReady();
  }
}

void WebWindow::Host::postToPage(const std::string& text) {
  if (!webview || startup.closing) {
    return;
  }
  const std::u16string wide = utf8ToUtf16(text);
  webview->PostWebMessageAsJson(reinterpret_cast<LPCWSTR>(wide.c_str()));
}

}  // namespace muvra
