#include "app/demo.h"

#include <chrono>
#include <thread>

#include "app/standard_streams.h"
#include "console/terminal.h"

namespace muvra {

namespace {

#ifdef _WIN32
constexpr const char* kNoConsole =
    "Open MuvraLoader.exe in a Windows terminal. Use --preview for an offline layout preview.";
#else
constexpr const char* kNoConsole =
    "Open muvra-loader in a terminal. Use --preview for an offline layout preview.";
#endif

constexpr int kEscape = 27;

ScreenState demoFrame(unsigned frame) {
  constexpr std::uint64_t kDemoTotal = 4194304;
  ScreenState state;
  state.message = "OFFLINE DEMO: nothing is downloaded or launched.";
  if (frame < 60) {
    state.phase = ScreenPhase::Downloading;
    state.percent = static_cast<std::int32_t>(frame * 95 / 60);
    state.total = kDemoTotal;
    state.downloaded = static_cast<std::uint64_t>(state.percent) * kDemoTotal / 100;
  } else if (frame < 75) {
    state.phase = ScreenPhase::VerifyingUpdate;
    state.percent = 95;
  } else {
    state.phase = ScreenPhase::ReadyToLaunch;
    state.percent = 100;
    state.verified = true;
  }
  return state;
}

// Reads the waiting key, if any; true when it is ESC.
bool escapePressed(ConsoleTerminal& terminal) {
  if (!terminal.keyWaiting()) {
    return false;
  }
  const int key = terminal.readKey();
  if (key == 0 || key == 224) {
    terminal.readKey();
    return false;
  }
  return key == kEscape;
}

}  // namespace

int runDemo() {
  ConsoleTerminal terminal;
  if (!terminal.available()) {
    writeErrorLine(kNoConsole);
    return 1;
  }
  for (unsigned frame = 0; frame < 110 && !stopRequested.load(); ++frame) {
    drawFrame(terminal, demoFrame(frame), frame);
    if (escapePressed(terminal)) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(33));
  }
  terminal.close();
  return 0;
}

}  // namespace muvra
