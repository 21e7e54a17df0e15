#pragma once

namespace muvra {

// A rectangle of the screen in physical pixels; right and bottom lie just outside it.
struct ScreenRect {
  long left = 0;
  long top = 0;
  long right = 0;
  long bottom = 0;

  bool operator==(const ScreenRect&) const = default;
};

// The edges of a monitor where an auto-hidden taskbar waits.
struct ScreenEdges {
  bool left = false;
  bool top = false;
  bool right = false;
  bool bottom = false;
};

// What a maximised window leaves free on an edge where an auto-hidden taskbar waits, so that
// the pointer there still brings the taskbar up.
inline constexpr long kAutoHideTaskbarGap = 2;

// The client area of the frameless window when maximised on a monitor: the monitor's work area
// (which an auto-hidden taskbar does not take from), less the gap on each edge where such a
// taskbar waits at the monitor's edge.
ScreenRect maximisedClientArea(const ScreenRect& monitor,
                               const ScreenRect& work,
                               const ScreenEdges& autoHidden);

}  // namespace muvra
