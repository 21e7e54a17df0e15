#include "window/window_frame.h"

namespace muvra {

ScreenRect maximisedClientArea(const ScreenRect& monitor,
                               const ScreenRect& work,
                               const ScreenEdges& autoHidden) {
  ScreenRect area = work;
  if (autoHidden.left && work.left == monitor.left) {
    area.left += kAutoHideTaskbarGap;
  }
  if (autoHidden.top && work.top == monitor.top) {
    area.top += kAutoHideTaskbarGap;
  }
  if (autoHidden.right && work.right == monitor.right) {
    area.right -= kAutoHideTaskbarGap;
  }
  if (autoHidden.bottom && work.bottom == monitor.bottom) {
    area.bottom -= kAutoHideTaskbarGap;
  }
  return area;
}

}  // namespace muvra
