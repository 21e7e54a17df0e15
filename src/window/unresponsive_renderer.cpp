#include "window/unresponsive_renderer.h"

namespace muvra {

bool UnresponsiveRenderer::reported() {
  if (++reports_ < kReportsBeforeReload) {
    return false;
  }
  reports_ = 0;
  return true;
}

}  // namespace muvra
