#pragma once

namespace muvra {

// About 3.6 seconds of the console screen in motion; nothing is downloaded or launched.
// 1 when no console is attached, else 0 (also when ended by ESC or Ctrl+C).
int runDemo();

}  // namespace muvra
