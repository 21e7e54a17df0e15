#include <windows.h>

#include <shlwapi.h>
#include <windowsx.h>

#include <algorithm>

#include "WebView2.h"
#include "base/path_text.h"
#include "base/process.h"
#include "base/text.h"
#include "web/bridge.h"
#include "web/com_win.h"
#include "web/interface_files.h"
#include "web/profile.h"
#include "web/startup.h"
#include "web/web_resource_win.h"
#include "web/web_window.h"
#include "web/web_window_host.h"
#include "web/window_frame_win.h"

namespace muvra {

namespace {

constexpr wchar_t kClassName[] = L"MuvraWebView2V33";
constexpr int kSplashMargin = 35;
constexpr UINT kRestartMessage = WM_APP + 704;
constexpr UINT kBrowserExitedMessage = WM_APP + 705;
// A creation whose handler is never called (reported after broken runtime updates) fails its
// stage after this long.
constexpr UINT_PTR kCreationTimer = 1;
constexpr UINT kCreationLimitMilliseconds = 20000;
constexpr std::uint32_t kTimedOut = 0x800705B4;        // HRESULT_FROM_WIN32(ERROR_TIMEOUT)
constexpr std::uint32_t kProcessAborted = 0x8007042B;  // HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED)

using CreateEnvironment =
    HRESULT(STDAPICALLTYPE*)(PCWSTR,
                             PCWSTR,
                             ICoreWebView2EnvironmentOptions*,
                             ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*);

std::wstring wide(std::string_view text) {
  const std::u16string units = utf8ToUtf16Lossy(text);
  return std::wstring(units.begin(), units.end());
}

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

std::uint32_t statusCode(HRESULT result) {
  return static_cast<std::uint32_t>(result);
}

// The loader's entry point, from WebView2Loader.dll beside the executable; loaded once and kept
// for the life of the process, as the browser objects it makes may outlive any one window.
CreateEnvironment environmentFactory(const std::filesystem::path& executable, DWORD& error) {
  static HMODULE loader = nullptr;
  if (loader == nullptr) {
    const std::filesystem::path library = executable.parent_path() / L"WebView2Loader.dll";
    loader = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  FARPROC function = loader != nullptr
                         ? GetProcAddress(loader, "CreateCoreWebView2EnvironmentWithOptions")
                         : nullptr;
  error = function == nullptr ? GetLastError() : 0;
  return reinterpret_cast<CreateEnvironment>(reinterpret_cast<void*>(function));
}

}  // namespace

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
  void environmentCompleted(HRESULT result, ICoreWebView2Environment* created);
  void controllerCompleted(HRESULT result, ICoreWebView2Controller* created);
  void configureView();
  void reportFailure(std::string_view stage, std::uint32_t code);
  void awaitCreation(std::string stage);
  bool creationCompleted(unsigned attempt);
  void creationTimedOut();
  void processFailed(ICoreWebView2ProcessFailedEventArgs* args);
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
  // The creation awaited and the start it belongs to: a completion of an abandoned start is
  // ignored.
  std::string awaitedStage;
  unsigned startNumber = 0;

  HWND window = nullptr;
  ComRef<ICoreWebView2Environment> environment;
  ComRef<ICoreWebView2Controller> controller;
  ComRef<ICoreWebView2> webview;
};

bool WebWindow::Host::createWindow() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    return false;
  }
  comInitialized = true;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &Host::windowProcedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(101));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  RegisterClassW(&windowClass);
  window = createFramelessWindow(kClassName, instance, this);
  if (window == nullptr) {
    return false;
  }
  startup.windowExists = true;
  return true;
}

LRESULT CALLBACK WebWindow::Host::windowProcedure(HWND handle,
                                                  UINT message,
                                                  WPARAM wParam,
                                                  LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    return DefWindowProcW(handle, message, wParam, lParam);
  }
  Host* host = reinterpret_cast<Host*>(GetWindowLongPtrW(handle, GWLP_USERDATA));
  if (host == nullptr) {
    return DefWindowProcW(handle, message, wParam, lParam);
  }
  return host->handleMessage(handle, message, wParam, lParam);
}

LRESULT WebWindow::Host::handleMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      resized(wParam);
      return 0;
    case WM_MOVE:
      if (controller) {
        controller->NotifyParentWindowPositionChanged();
      }
      return 0;
    case WM_ACTIVATE:
      // The keyboard goes to the page whenever the window becomes active. DefWindowProcW would
      // give the focus to the frame itself once the view had it.
      if (controller && LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0) {
        controller->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
        return 0;
      }
      return DefWindowProcW(handle, message, wParam, lParam);
    case WM_SETFOCUS:
      if (controller) {
        controller->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
        return 0;
      }
      return DefWindowProcW(handle, message, wParam, lParam);
    case WM_GETMINMAXINFO:
      limitWindowSize(handle, *reinterpret_cast<MINMAXINFO*>(lParam));
      return 0;
    case WM_NCCALCSIZE:
      return 0;  // no frame: the client area is the whole window (see frameHitTest)
    case WM_NCHITTEST:
      return frameHitTest(handle, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
    case WM_DPICHANGED:
      followScaleChange(handle, *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_CLOSE:
      if (onClose) {
        onClose();
      }
      startup.closing = true;
      ShowWindow(window, SW_HIDE);
      return 0;
    case WM_PAINT:
      paintSplash();
      return 0;
    case kRestartMessage:
      if (!startup.closing && window != nullptr) {
        releaseBrowser();
        ready = false;
        startBrowser();
      }
      return 0;
    case kBrowserExitedMessage:
      // The view is gone with its browser: recovered as a failed start is.
      if (!startup.closing && controller) {
        releaseBrowser();
        ready = false;
        reportFailure("Browser process exited", kProcessAborted);
      }
      return 0;
    case WM_TIMER:
      if (wParam == kCreationTimer) {
        creationTimedOut();
        return 0;
      }
      return DefWindowProcW(handle, message, wParam, lParam);
    default:
      return DefWindowProcW(handle, message, wParam, lParam);
  }
}

// A minimised window's view is set invisible, so that the browser stops drawing it.
void WebWindow::Host::resized(WPARAM kind) {
  const bool nowMinimized = kind == SIZE_MINIMIZED;
  if (controller && nowMinimized != minimized) {
    controller->put_IsVisible(nowMinimized ? FALSE : TRUE);
  }
  minimized = nowMinimized;
  if (!minimized) {
    fitBrowserToWindow();
  }
}

void WebWindow::Host::paintSplash() {
  PAINTSTRUCT paint;
  HDC device = BeginPaint(window, &paint);
  RECT area;
  GetClientRect(window, &area);
  HBRUSH background = CreateSolidBrush(RGB(11, 9, 12));
  FillRect(device, &area, background);
  DeleteObject(background);
  SetTextColor(device, RGB(239, 139, 184));
  SetBkMode(device, TRANSPARENT);
  const int margin = scaled(kSplashMargin, windowDpi(window));
  InflateRect(&area, -margin, -margin);
  const std::wstring text =
      startup.statusText.empty() ? L"Opening Muvra..." : wide(startup.statusText);
  DrawTextW(device, text.c_str(), -1, &area, DT_WORDBREAK);
  EndPaint(window, &paint);
}

void WebWindow::Host::showText(std::string text) {
  startup.statusText = std::move(text);
  InvalidateRect(window, nullptr, TRUE);
}

void WebWindow::Host::fitBrowserToWindow() {
  if (controller) {
    controller->put_Bounds(viewArea(window));
  }
}

void WebWindow::Host::startBrowser() {
  std::optional<std::uint32_t> folderFailure;
  try {
    folderFailure = createProfileFolder(startup);
  } catch (const std::exception& failure) {
    failedForGood = true;
    showText(failure.what());
    return;
  }
  if (folderFailure) {
    reportFailure("Create profile folder", *folderFailure);
    return;
  }

  logStartupStage(startup, "Create environment", 0);
  DWORD loadError = 0;
  const CreateEnvironment create = environmentFactory(startup.executable, loadError);
  if (create == nullptr) {
    reportFailure("Create environment call",
                  loadError == 0 ? statusCode(E_FAIL) : statusCode(HRESULT_FROM_WIN32(loadError)));
    return;
  }
  const auto handler = guarded<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                               IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [this, start = ++startNumber](HRESULT result, ICoreWebView2Environment* created) {
        if (creationCompleted(start)) {
          environmentCompleted(result, created);
        }
      });
  const HRESULT result = create(nullptr, startup.profileFolder.c_str(), nullptr, handler.get());
  if (FAILED(result)) {
    reportFailure("Create environment call", statusCode(result));
  } else {
    awaitCreation("Create environment callback");
  }
}

void WebWindow::Host::environmentCompleted(HRESULT result, ICoreWebView2Environment* created) {
  if (FAILED(result) || created == nullptr) {
    reportFailure("Create environment callback", statusCode(result));
    return;
  }
  created->AddRef();
  environment = ComRef<ICoreWebView2Environment>::adopt(created);
  logStartupStage(startup, "Create controller", 0);
  const auto handler = guarded<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                               IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
      [this, start = startNumber](HRESULT completed, ICoreWebView2Controller* made) {
        if (creationCompleted(start)) {
          controllerCompleted(completed, made);
        }
      });
  const HRESULT call = environment->CreateCoreWebView2Controller(window, handler.get());
  if (FAILED(call)) {
    reportFailure("Create controller call", statusCode(call));
  } else {
    awaitCreation("Create controller callback");
  }
}

void WebWindow::Host::controllerCompleted(HRESULT result, ICoreWebView2Controller* created) {
  if (owner.recoveryTest && startup.attempt == 0) {
    if (created != nullptr) {
      created->Close();
    }
    reportFailure("Create controller callback", statusCode(E_FAIL));
    return;
  }
  if (FAILED(result) || created == nullptr) {
    reportFailure("Create controller callback", statusCode(result));
    return;
  }
  created->AddRef();
  controller = ComRef<ICoreWebView2Controller>::adopt(created);
  webview.reset();
  const HRESULT got = controller->get_CoreWebView2(webview.put());
  if (FAILED(got) || !webview) {
    reportFailure("Get browser view", statusCode(got));
    return;
  }
  fitBrowserToWindow();
  // The window was activated before the view existed: the keyboard goes to the page now.
  if (GetForegroundWindow() == window) {
    controller->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
  }
  configureView();
  navigate(startPage);
}

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

void WebWindow::Host::reportFailure(std::string_view stage, std::uint32_t code) {
  const StartupOutcome outcome = reportStartupFailure(startup, stage, code);
  InvalidateRect(window, nullptr, TRUE);
  if (outcome == StartupOutcome::Restart) {
    PostMessageW(window, kRestartMessage, 0, 0);
  } else {
    failedForGood = true;
  }
}

void WebWindow::Host::awaitCreation(std::string stage) {
  awaitedStage = std::move(stage);
  SetTimer(window, kCreationTimer, kCreationLimitMilliseconds, nullptr);
}

// Whether a completion belongs to the start under way, whose wait it then ends.
bool WebWindow::Host::creationCompleted(unsigned start) {
  if (start != startNumber || awaitedStage.empty()) {
    return false;
  }
  awaitedStage.clear();
  KillTimer(window, kCreationTimer);
  return true;
}

void WebWindow::Host::creationTimedOut() {
  KillTimer(window, kCreationTimer);
  if (awaitedStage.empty()) {
    return;
  }
  const std::string stage = std::move(awaitedStage);
  awaitedStage.clear();
  ++startNumber;  // a completion that comes after all is not this start's any more
  reportFailure(stage, kTimedOut);
}

// A page whose renderer ended or hangs is loaded again; a browser that ended takes the view
// with it, which is started again as after a failed start (asynchronously: not from inside the
// view's own event).
void WebWindow::Host::processFailed(ICoreWebView2ProcessFailedEventArgs* args) {
  COREWEBVIEW2_PROCESS_FAILED_KIND kind = COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
  args->get_ProcessFailedKind(&kind);
  switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
      PostMessageW(window, kBrowserExitedMessage, 0, 0);
      break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
      if (webview) {
        ready = false;
        webview->Reload();
      }
      break;
    default:
      break;  // the runtime starts its other processes again itself
  }
}

void WebWindow::Host::releaseBrowser() {
  awaitedStage.clear();
  if (window != nullptr) {
    KillTimer(window, kCreationTimer);
  }
  if (controller) {
    controller->Close();
  }
  webview.reset();
  controller.reset();
  environment.reset();
}

void WebWindow::Host::navigate(const std::string& page) {
  startPage = page;
  if (webview) {
    ready = false;
    webview->Navigate(wide(interfaceOrigin() + page).c_str());
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

WebWindow::WebWindow() : host_(std::make_unique<Host>(*this)) {}

WebWindowHostBase& WebWindow::base() const {
  return *host_;
}

WebWindow::~WebWindow() = default;

bool WebWindow::open(const std::string& startPage) {
  host_->startPage = startPage;
  if (!host_->createWindow()) {
    return false;
  }
  if (!testMode || startupTest) {
    ShowWindow(host_->window, startupTest ? SW_SHOWNOACTIVATE : SW_SHOW);
  }
  host_->startBrowser();
  return true;
}

void WebWindow::executeScript(const std::string& script) {
  if (host_->webview) {
    host_->webview->ExecuteScript(wide(script).c_str(), nullptr);
  }
}

void WebWindow::capture(const std::filesystem::path& file, std::function<void(bool)> done) {
  if (host_->window != nullptr && !IsWindowVisible(host_->window)) {
    ShowWindow(host_->window, SW_SHOWNOACTIVATE);
  }
  if (host_->controller) {
    host_->controller->put_IsVisible(TRUE);
  }
  ComRef<IStream> stream;
  if (!host_->webview ||
      FAILED(SHCreateStreamOnFileEx(file.c_str(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_WRITE,
                                    FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, stream.put()))) {
    done(false);
    return;
  }
  auto finished = std::make_shared<std::function<void(bool)>>(std::move(done));
  const auto handler = makeHandler<ICoreWebView2CapturePreviewCompletedHandler,
                                   IID_ICoreWebView2CapturePreviewCompletedHandler>(
      [finished](HRESULT result) { (*finished)(SUCCEEDED(result)); });
  if (FAILED(host_->webview->CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG,
                                            stream.get(), handler.get()))) {
    (*finished)(false);
  }
}

// Sleeps until a message is queued (at once when one is) or the deadline passes, then handles
// what is queued; the caller looks at what they changed before it waits again.
void WebWindow::waitForEvents(std::optional<std::uint64_t> deadline) {
  DWORD timeout = INFINITE;
  if (deadline) {
    const std::uint64_t now = tickMilliseconds();
    timeout = *deadline <= now
                  ? 0
                  : static_cast<DWORD>(std::min<std::uint64_t>(*deadline - now, INFINITE - 1));
  }
  MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  processEvents();
}

void WebWindow::processEvents() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace muvra
