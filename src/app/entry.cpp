#include "app/entry.h"

#include <iostream>

#include "app/demo.h"
#include "app/self_test.h"
#include "app/standard_streams.h"
#include "app/web_launcher.h"

namespace muvra {

namespace {

void writeHelp() {
  std::cout << "Muvra Console Loader\n"
               "\n"
               "Open the program without arguments to check for updates and launch Muvra.\n"
               "--self-test       Run offline verification checks\n"
               "--preview [download|error]   Print an offline screen preview\n"
               "--demo            Show a short offline animation demo\n";
}

int runSelfTest() {
  const std::int32_t result = selfTest();
  std::cout << (result != 0 ? "FAIL\n" : "PASS: offline loader and console checks.\n");
  return result;
}

int runPreview(const std::optional<std::string>& choice) {
  for (const ScreenLine& line : renderScreen(previewState(choice), 84, 0)) {
    std::cout << line.text << '\n';
  }
  return 0;
}

}  // namespace

std::optional<WebMode> webModeFor(const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    return WebMode::Normal;
  }
  const std::string& option = arguments.front();
  if (option == "--web-preview") {
    return WebMode::Preview;
  }
  if (option == "--web-ui-test") {
    return WebMode::UiTest;
  }
  if (option == "--web-recovery-test") {
    return WebMode::RecoveryTest;
  }
  if (option == "--web-startup-test") {
    return WebMode::StartupTest;
  }
  return std::nullopt;
}

ScreenState previewState(const std::optional<std::string>& choice) {
  ScreenState state;
  state.releaseStatus = "Preview only";
  if (choice == "download") {
    state.phase = ScreenPhase::Downloading;
    state.percent = 62;
    state.message = "Downloading Muvra. Your existing installation is kept until verification.";
  } else if (choice == "error") {
    state.phase = ScreenPhase::ActionNeeded;
    state.percent = -1;
    state.message = "Cannot reach GitHub over HTTPS. Check your connection and try again.";
  } else {
    state.phase = ScreenPhase::ReadyToLaunch;
    state.percent = 100;
    state.verified = true;
    state.message = "Update verified and installed. Press 2 to launch Muvra.";
  }
  return state;
}

int runEntry(const std::vector<std::string>& arguments) {
  if (const std::optional<WebMode> web = webModeFor(arguments)) {
    return runWebLauncher(*web);
  }
  useParentConsoleWhenUnattached();  // the console modes, never the window
  const std::string& option = arguments.front();
  if (option == "--self-test") {
    return runSelfTest();
  }
  if (option == "--preview") {
    return runPreview(arguments.size() > 1 ? std::optional(arguments[1]) : std::nullopt);
  }
  if (option != "--demo") {
    writeHelp();
    return option == "--help" ? 0 : 1;
  }
  return runDemo();
}

int runGuarded(const std::function<int()>& mode) {
  try {
    return mode();
  } catch (const std::exception& failure) {
    writeErrorLine(std::string("Muvra Loader: ") + failure.what());
  } catch (...) {
    writeErrorLine(
        "Muvra Loader could not start. Run it from a terminal to keep this message "
        "visible.");
  }
  return 1;
}

}  // namespace muvra
