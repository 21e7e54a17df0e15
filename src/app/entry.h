#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/screen.h"

namespace muvra {

enum class WebMode { Normal, Preview, UiTest, RecoveryTest, StartupTest };

// The web mode a first argument selects (no argument: the normal launcher), or none.
std::optional<WebMode> webModeFor(const std::vector<std::string>& arguments);

// The screen `--preview` prints for its optional second argument.
ScreenState previewState(const std::optional<std::string>& choice);

// Chooses the mode from the arguments after the program name, runs it and returns the exit code.
int runEntry(const std::vector<std::string>& arguments);

// Runs `mode`; a failure that escapes becomes one line on standard error and exit code 1.
int runGuarded(const std::function<int()>& mode);

}  // namespace muvra
