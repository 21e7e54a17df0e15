#include "window/window_frame_win.h"

#include <dwmapi.h>

#include <algorithm>

namespace muvra {

namespace {

constexpr DWORD kStyle = WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
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
  }
  return window;
}

// A window without a caption would cover the taskbar when maximised. Windows reads the maximised
// place as if on the primary monitor and moves it onto the window's own.
void limitWindowSize(HWND window, MINMAXINFO& limits) {
  const UINT dpi = windowDpi(window);
  limits.ptMinTrackSize = {scaled(kMinimumWidth, dpi), scaled(kMinimumHeight, dpi)};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    limits.ptMaxPosition = {work.left - monitor.rcMonitor.left, work.top - monitor.rcMonitor.top};
    limits.ptMaxSize = {work.right - work.left, work.bottom - work.top};
  }
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
