// The WebView2 host of the Windows window: the window and its messages (web_window_win.cpp), the
// browser's start-up and recovery (browser_startup_win.cpp), and the view with its events
// (browser_view_win.cpp).
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "WebView2.h"
#include "base/text.h"
#include "base/wide_text_win.h"
#include "window/com_win.h"
#include "window/unresponsive_renderer.h"
#include "window/web_window.h"
#include "window/web_window_host.h"
#include "window/window_frame_win.h"

namespace muvra {

inline constexpr UINT kRestartMessage = WM_APP + 704;
inline constexpr UINT kBrowserExitedMessage = WM_APP + 705;
// A creation whose handler is never called (reported after broken runtime updates) fails its
// stage after this long: a first start on a slow disk under an antivirus can take most of it. A
// test run ends after 45 s, in which a creation given up and the recovery start must both fit.
inline constexpr UINT_PTR kCreationTimer = 1;
inline constexpr UINT kCreationLimitMilliseconds = 60000;
inline constexpr UINT kTestCreationLimitMilliseconds = 20000;

struct WebWindow::Host : WebWindowHostBase {
  explicit Host(WebWindow& window_owner)
      : WebWindowHostBase({[this](const std::string& text) { postToPage(text); },
                           [this] { ShowWindow(window, SW_MINIMIZE); },
                           [this] { PostMessageW(window, WM_CLOSE, 0, 0); },
                           [this] { beginMoveDrag(window); }}),
        owner(window_owner) {}

  ~Host() {
    *alive = false;
    releaseBrowser();
    if (window != nullptr) {
      DestroyWindow(window);
    }
    if (comInitialized) {
      CoUninitialize();
    }
  }

  // The window.
  bool createWindow();
  static LRESULT CALLBACK windowProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
  // `handle` is the window's own: `window` is still null while CreateWindowExW runs.
  LRESULT handleMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
  void resized(WPARAM kind);
  void paintSplash();
  void showText(std::string text);
  void fitBrowserToWindow();

  // Browser start-up and its stages.
  void startBrowser();
  void restart();
  void browserExited();
  void environmentCompleted(HRESULT result, ICoreWebView2Environment* created);
  void controllerCompleted(HRESULT result, ICoreWebView2Controller* created);
  void configureView();
  void reportFailure(std::string_view stage, std::uint32_t code);
  void awaitCreation(std::string stage);
  bool creationCompleted(unsigned attempt);
  void creationTimedOut();
  void processFailed(ICoreWebView2ProcessFailedEventArgs* args);
  void reload();
  void releaseBrowser();
  void navigate(const std::string& page);

  // Handlers of the view.
  void handleResourceRequest(ICoreWebView2WebResourceRequestedEventArgs* args);
  void handleNavigationStarting(ICoreWebView2NavigationStartingEventArgs* args);
  void handleWebMessage(ICoreWebView2WebMessageReceivedEventArgs* args);
  void navigationCompleted(ICoreWebView2NavigationCompletedEventArgs* args);
  void postToPage(const std::string& text);

  // A handler that does nothing once this host is gone.
  template <typename Interface, const IID& Iid, typename Function>
  ComRef<Interface> guarded(Function function) {
    return makeHandler<Interface, Iid>(
        [living = alive, function = std::move(function)](auto... arguments) {
          if (*living) {
            function(arguments...);
          }
        });
  }

  WebWindow& owner;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
  bool comInitialized = false;
  bool ready = false;
  bool minimized = false;
  UnresponsiveRenderer unresponsive;
  // The creation awaited and the start it belongs to: a completion of an abandoned start is
  // ignored.
  std::string awaitedStage;
  unsigned startNumber = 0;

  HWND window = nullptr;
  ComRef<ICoreWebView2Environment> environment;
  ComRef<ICoreWebView2Controller> controller;
  ComRef<ICoreWebView2> webview;
};

}  // namespace muvra
