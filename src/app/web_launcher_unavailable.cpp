#include <iostream>

#include "app/web_launcher.h"

namespace muvra {

// The launcher window is not built yet; say so instead of opening nothing.
int runWebLauncher(WebMode) {
  std::cerr << "Muvra Loader: the launcher window is not available in this build yet. Use "
               "--help for the offline modes.\n";
  return 1;
}

}  // namespace muvra
