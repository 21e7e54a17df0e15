// MuvraLoader.com, the console-subsystem companion that a terminal finds first: the terminal
// waits for it, gets its exit code and keeps its keyboard for the demo. The window modes belong
// to MuvraLoader.exe, whose profile, record and logs they keep.
#include "app/entry.h"
#include "app/windows_start.h"

int wmain(int argc, wchar_t** argv) {
  return muvra::runGuarded([&] {
    const std::vector<std::string> arguments = muvra::modeArguments(argc, argv);
    if (muvra::webModeFor(arguments)) {
      return muvra::runWindowProgramBeside(argc, argv);
    }
    muvra::prepareMainThread();
    return muvra::runEntry(arguments);
  });
}
