#include "window/window_frame_win.h"

#include <dwmapi.h>
#include <shellapi.h>

#include <algorithm>

#include "window/window_frame.h"

namespace muvra {

namespace {

// The system menu answers Alt+Space (move, size, minimise, maximise, close); without a caption
// nothing of it is drawn.
constexpr DWORD kStyle = WS_POPUP | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr int kWidth = 540;
constexpr int kHeight = 650;
constexpr int kMinimumWidth = 430;
constexpr int kMinimumHeight = 510;
constexpr int kResizeBorder = 5;
constexpr DWORD kImmersiveDarkMode = 20;
constexpr DWORD kCornerPreference = 33;
constexpr DWORD kRoundCorners = 2;

UINT monitorDpi(HMONITOR monitor) {
  using GetDpi = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const HMODULE shcore =
      LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const auto get = shcore != nullptr ? reinterpret_cast<GetDpi>(reinterpret_cast<void*>(
                                           GetProcAddress(shcore, "GetDpiForMonitor")))
                                     : nullptr;
  UINT x = 0;
  UINT y = 0;
  constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
  return get != nullptr && SUCCEEDED(get(monitor, kEffectiveDpi, &x, &y)) && x != 0
             ? x
             : USER_DEFAULT_SCREEN_DPI;
}

ScreenRect screenRect(const RECT& rect) {
  return {rect.left, rect.top, rect.right, rect.bottom};
}

// The edges of `monitor` (its rectangle) where an auto-hidden taskbar waits (Windows 8.1 and
// later answer for each monitor).
ScreenEdges autoHiddenTaskbars(const RECT& monitor) {
  const auto waits = [&monitor](UINT edge) {
    APPBARDATA bar{};
    bar.cbSize = sizeof bar;
    bar.uEdge = edge;
    bar.rc = monitor;
    return SHAppBarMessage(ABM_GETAUTOHIDEBAREX, &bar) != 0;
  };
  return {waits(ABE_LEFT), waits(ABE_TOP), waits(ABE_RIGHT), waits(ABE_BOTTOM)};
}

}  // namespace

int scaled(int length, UINT dpi) {
  return MulDiv(length, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}

UINT windowDpi(HWND window) {
  using GetDpi = UINT(WINAPI*)(HWND);
  static const auto get = reinterpret_cast<GetDpi>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  const UINT dpi = get != nullptr ? get(window) : 0;
  return dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

// A pop-up window takes no default position.
HWND createFramelessWindow(const wchar_t* className, HINSTANCE instance, void* creation) {
  POINT pointer{};
  GetCursorPos(&pointer);
  const HMONITOR screen = MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(screen, &monitor);
  const UINT dpi = monitorDpi(screen);
  const int width = scaled(kWidth, dpi);
  const int height = scaled(kHeight, dpi);
  const RECT& work = monitor.rcWork;
  const int left = work.left + (work.right - work.left - width) / 2;
  const int top = work.top + std::max(0L, (work.bottom - work.top - height) / 2);
  const HWND window = CreateWindowExW(0, className, L"Muvra", kStyle, left, top, width, height,
                                      nullptr, nullptr, instance, creation);
  if (window != nullptr) {
    const BOOL dark = TRUE;
    DwmSetWindowAttribute(window, kImmersiveDarkMode, &dark, sizeof dark);
    DwmSetWindowAttribute(window, kCornerPreference, &kRoundCorners, sizeof kRoundCorners);
    // One pixel of the system's frame under the client area is what gives the window its shadow.
    const MARGINS shadow{1, 1, 1, 1};
    DwmExtendFrameIntoClientArea(window, &shadow);
  }
  return window;
}

void limitWindowSize(HWND window, MINMAXINFO& limits) {
  const UINT dpi = windowDpi(window);
  limits.ptMinTrackSize = {scaled(kMinimumWidth, dpi), scaled(kMinimumHeight, dpi)};
}

// Windows places a maximised window with its sizing frame beyond the monitor's edges; the client
// area is what must keep to the work area of the monitor the window goes to, whatever its size.
void fitMaximisedClientArea(RECT& proposed) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromRect(&proposed, MONITOR_DEFAULTTONEAREST), &monitor)) {
    return;
  }
  const ScreenRect area =
      maximisedClientArea(screenRect(monitor.rcMonitor), screenRect(monitor.rcWork),
                          autoHiddenTaskbars(monitor.rcMonitor));
  proposed = {area.left, area.top, area.right, area.bottom};
}

// On Windows 10 a drawn thick frame shows a light strip above the dark header; this one draws
// none, and a maximised window is not resized.
LRESULT frameHitTest(HWND window, POINT screenPoint) {
  RECT area;
  GetWindowRect(window, &area);
  if (IsZoomed(window) || !PtInRect(&area, screenPoint)) {
    return IsZoomed(window) ? HTCLIENT : HTNOWHERE;
  }
  const int border = scaled(kResizeBorder, windowDpi(window));
  const int column =
      screenPoint.x < area.left + border ? 0 : (screenPoint.x >= area.right - border ? 2 : 1);
  const int row =
      screenPoint.y < area.top + border ? 0 : (screenPoint.y >= area.bottom - border ? 2 : 1);
  constexpr LRESULT kEdges[3][3] = {{HTTOPLEFT, HTTOP, HTTOPRIGHT},
                                    {HTLEFT, HTCLIENT, HTRIGHT},
                                    {HTBOTTOMLEFT, HTBOTTOM, HTBOTTOMRIGHT}};
  return kEdges[row][column];
}

void followScaleChange(HWND window, const RECT& suggested) {
  SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT viewArea(HWND window) {
  RECT area;
  GetClientRect(window, &area);
  if (!IsZoomed(window)) {
    const int border = scaled(kResizeBorder, windowDpi(window));
    InflateRect(&area, -border, -border);
  }
  return area;
}

// By the time the page's request arrives the button may be up again, and a move started then
// would follow the pointer unasked.
void beginMoveDrag(HWND window) {
  const int primary = GetSystemMetrics(SM_SWAPBUTTON) ? VK_RBUTTON : VK_LBUTTON;
  if ((GetAsyncKeyState(primary) & 0x8000) == 0) {
    return;
  }
  ReleaseCapture();
  PostMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

}  // namespace muvra
