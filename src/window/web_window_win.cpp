#include <windows.h>

#include <shlwapi.h>
#include <windowsx.h>

#include <algorithm>

#include "base/process.h"
#include "window/startup.h"
#include "window/web_window_win_host.h"
#include "window/window_frame_win.h"

namespace muvra {

namespace {

constexpr wchar_t kClassName[] = L"MuvraWebView2V33";
constexpr int kSplashMargin = 35;

}  // namespace

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
      // No frame: the client area is the whole window (see frameHitTest), or when maximised the
      // work area of its monitor.
      if (wParam == TRUE && IsZoomed(handle)) {
        fitMaximisedClientArea(reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0]);
      }
      return 0;
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
      restart();
      return 0;
    case kBrowserExitedMessage:
      browserExited();
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
      startup.statusText.empty() ? L"Opening Muvra..." : wideText(startup.statusText);
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
    host_->webview->ExecuteScript(wideText(script).c_str(), nullptr);
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
