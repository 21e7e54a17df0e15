#pragma once

#include "app/entry.h"

namespace muvra {

// Opens the launcher window in the given mode and returns the exit code.
int runWebLauncher(WebMode mode);

}  // namespace muvra
