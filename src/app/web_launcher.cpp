#include "app/web_launcher.h"

#include <iostream>
#include <memory>
#include <optional>

#include "base/process.h"
#include "launcher/web_loader.h"
#include "window/web_window.h"

namespace muvra {

namespace {

constexpr std::uint64_t kTestLimitMilliseconds = 45000;

// Run in the page of the automated interface test: the preview state, two refused operations,
// then the verdict through "test_result".
constexpr const char* kUiTestScript = R"JS((async function () {
  var good = true;
  try {
    var state = await window.muvra.call('get_loader_state');
    good = state.canLaunch === false && state.busy === false &&
      document.getElementById('downloadProgress').max === 100;
  } catch (error) {
    good = false;
  }
  for (var method of ['launch_app', 'check_update']) {
    try {
      await window.muvra.call(method);
      good = false;
    } catch (refused) {
    }
  }
  await window.muvra.call('test_result', good);
})();)JS";

struct TestRun {
  bool verdict = false;
  bool done = false;
};

void installTestHooks(WebWindow& window, TestRun& run) {
  window.setOnReady([&window] { window.executeScript(kUiTestScript); });
  const Dispatcher held = window.dispatcher();
  const std::filesystem::path image = modulePath().parent_path() / "muvra-launcher-preview.png";
  window.setDispatcher([&window, &run, held, image](std::int32_t id, const std::string& method,
                                                    const nlohmann::json& params) {
    if (method != "test_result") {
      held(id, method, params);
      return;
    }
    run.verdict = params.size() == 1 && params[0].is_boolean() && params[0].get<bool>();
    window.replyResult(id, true);
    window.capture(image, [&run](bool captured) {
      run.verdict = run.verdict && captured;
      run.done = true;
    });
  });
}

}  // namespace

int runWebLauncher(WebMode mode) {
  const bool testMode =
      mode == WebMode::UiTest || mode == WebMode::RecoveryTest || mode == WebMode::StartupTest;
  TestRun run;  // outlives the window, whose capture may still report while it is torn down
  auto owned = std::make_unique<WebWindow>();
  WebWindow& window = *owned;
  window.recoveryTest = mode == WebMode::RecoveryTest;
  window.startupTest = mode == WebMode::StartupTest;
  window.testMode = testMode;
  auto loader = std::make_unique<WebLoader>(std::move(owned));
  loader->preview = mode != WebMode::Normal;
  loader->testMode = testMode;
  loader->startupTest = window.startupTest;

  if (!loader->create()) {
    loader->shutdown();
    return 1;
  }
  if (testMode) {
    installTestHooks(window, run);
  }
  const std::uint64_t started = tickMilliseconds();
  while (!window.closing()) {
    // A start-up that failed for good will never report: its verdict is known now.
    if (testMode && (run.done || window.startupFailed() ||
                     tickMilliseconds() - started >= kTestLimitMilliseconds)) {
      break;
    }
    window.waitForEvents(testMode ? std::optional(started + kTestLimitMilliseconds) : std::nullopt);
  }

  int exitCode = 0;
  if (testMode) {
    const bool passed =
        run.verdict && run.done && (mode != WebMode::RecoveryTest || window.attempt() == 1);
    if (passed) {
      std::cout << "PASS: WebView2 launcher interface loader.html answered the bridge in preview "
                   "mode.\n";
    } else {
      std::cout << "FAIL: WebView2 launcher UI test.\n";
      std::cerr << window.startupSummary() << '\n';
    }
    exitCode = passed ? 0 : 1;
  }
  loader->shutdown();
  return exitCode;
}

}  // namespace muvra
