#pragma once

#include <windows.h>

namespace muvra {

// The frame of the launcher's frameless window on Windows: its size at each monitor's scale,
// its edges, the place of the view in it, and the move the page asks for.

// A length of the 96-DPI design at `dpi`, and the dots per inch of a window (96 where Windows
// cannot say: before Windows 10 1607, or in a process that is not DPI-aware).
int scaled(int length, UINT dpi);
UINT windowDpi(HWND window);

// Creates the window, hidden, centred on the work area under the pointer at that monitor's
// scale, dark and shadowed where the system can; `creation` goes to WM_NCCREATE.
HWND createFramelessWindow(const wchar_t* className, HINSTANCE instance, void* creation);

// WM_GETMINMAXINFO: at least the least size.
void limitWindowSize(HWND window, MINMAXINFO& limits);

// WM_NCCALCSIZE of a maximised window, `proposed` its new place: its client area becomes the
// work area of that monitor, leaving free an edge where an auto-hidden taskbar waits.
void fitMaximisedClientArea(RECT& proposed);

// WM_NCHITTEST without a drawn frame: the window's own edge outside the view resizes it.
LRESULT frameHitTest(HWND window, POINT screenPoint);

// WM_DPICHANGED: the place and size Windows suggests on the monitor of the new scale.
void followScaleChange(HWND window, const RECT& suggested);

// Where the view goes: the client area but for the resize edge (all of it when maximised), in
// the physical pixels a per-monitor aware process works in.
RECT viewArea(HWND window);

// Moves the window with the pointer, as a press on a title bar would, while the primary button
// is still down.
void beginMoveDrag(HWND window);

}  // namespace muvra
