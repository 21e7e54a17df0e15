#pragma once

#include <string>
#include <vector>

namespace muvra {

// What both Windows programs do first on their main thread: declare per-monitor DPI awareness
// and initialise COM as a single-threaded apartment (a failure is raised).
void prepareMainThread();

// The arguments that choose the mode (the first two after the program's name), as UTF-8.
std::vector<std::string> modeArguments(int argc, wchar_t** argv);

// MuvraLoader.com's window modes: starts MuvraLoader.exe from the companion's own folder with
// every argument it was given, waits for it and returns its exit code.
int runWindowProgramBeside(int argc, wchar_t** argv);

}  // namespace muvra
