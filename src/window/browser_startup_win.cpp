// The browser's start-up, its stages and its recovery: a failed start is tried once more on a
// profile of its own, a creation that never completes fails its stage, a browser that exits is
// recovered as a failed start.
#include <windows.h>

#include "update/profile.h"
#include "window/startup.h"
#include "window/web_window_win_host.h"
#include "window/window_frame_win.h"

namespace muvra {

namespace {

constexpr std::uint32_t kTimedOut = 0x800705B4;        // HRESULT_FROM_WIN32(ERROR_TIMEOUT)
constexpr std::uint32_t kProcessAborted = 0x8007042B;  // HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED)

using CreateEnvironment =
    HRESULT(STDAPICALLTYPE*)(PCWSTR,
                             PCWSTR,
                             ICoreWebView2EnvironmentOptions*,
                             ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*);

std::uint32_t statusCode(HRESULT result) {
  return static_cast<std::uint32_t>(result);
}

// The loader's entry point, from WebView2Loader.dll beside the executable; loaded once and kept
// for the life of the process, as the browser objects it makes may outlive any one window.
CreateEnvironment environmentFactory(const std::filesystem::path& executable, DWORD& error) {
  static HMODULE loader = nullptr;
  if (loader == nullptr) {
    const std::filesystem::path library = executable.parent_path() / L"WebView2Loader.dll";
    loader = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  FARPROC function = loader != nullptr
                         ? GetProcAddress(loader, "CreateCoreWebView2EnvironmentWithOptions")
                         : nullptr;
  error = function == nullptr ? GetLastError() : 0;
  return reinterpret_cast<CreateEnvironment>(reinterpret_cast<void*>(function));
}

// The runtime takes these variables before what the program passes: set by a shortcut or a parent
// process, they would open a debugging port on the page or move the profile. The fixed-version
// runtime's folder is an administrator's choice and stays.
void clearBrowserOverrides() {
  SetEnvironmentVariableW(L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", nullptr);
  SetEnvironmentVariableW(L"WEBVIEW2_USER_DATA_FOLDER", nullptr);
}

}  // namespace

void WebWindow::Host::startBrowser() {
  std::optional<std::uint32_t> folderFailure;
  try {
    folderFailure = createProfileFolder(startup);
  } catch (const std::exception& failure) {
    failedForGood = true;
    showText(failure.what());
    return;
  }
  if (folderFailure) {
    reportFailure("Create profile folder", *folderFailure);
    return;
  }

  logStartupStage(startup, "Create environment", 0);
  DWORD loadError = 0;
  const CreateEnvironment create = environmentFactory(startup.executable, loadError);
  if (create == nullptr) {
    reportFailure("Create environment call",
                  loadError == 0 ? statusCode(E_FAIL) : statusCode(HRESULT_FROM_WIN32(loadError)));
    return;
  }
  const auto handler = guarded<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                               IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [this, start = ++startNumber](HRESULT result, ICoreWebView2Environment* created) {
        if (creationCompleted(start)) {
          environmentCompleted(result, created);
        }
      });
  clearBrowserOverrides();
  const HRESULT result = create(nullptr, startup.profileFolder.c_str(), nullptr, handler.get());
  if (FAILED(result)) {
    reportFailure("Create environment call", statusCode(result));
  } else {
    awaitCreation("Create environment callback");
  }
}

// The second attempt, asked for by a failed first one.
void WebWindow::Host::restart() {
  if (!startup.closing && window != nullptr) {
    releaseBrowser();
    ready = false;
    startBrowser();
  }
}

// The view is gone with its browser: recovered as a failed start is.
void WebWindow::Host::browserExited() {
  if (!startup.closing && controller) {
    releaseBrowser();
    ready = false;
    reportFailure("Browser process exited", kProcessAborted);
  }
}

void WebWindow::Host::environmentCompleted(HRESULT result, ICoreWebView2Environment* created) {
  if (FAILED(result) || created == nullptr) {
    reportFailure("Create environment callback", statusCode(result));
    return;
  }
  created->AddRef();
  environment = ComRef<ICoreWebView2Environment>::adopt(created);
  logStartupStage(startup, "Create controller", 0);
  // A controller whose stage was given up, or whose window is gone, is closed at once: its
  // browser process would stay beside the next start's.
  const auto handler = makeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                                   IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
      [this, living = alive, start = startNumber](HRESULT completed,
                                                  ICoreWebView2Controller* made) {
        if (*living && creationCompleted(start)) {
          controllerCompleted(completed, made);
        } else if (made != nullptr) {
          made->Close();
        }
      });
  const HRESULT call = environment->CreateCoreWebView2Controller(window, handler.get());
  if (FAILED(call)) {
    reportFailure("Create controller call", statusCode(call));
  } else {
    awaitCreation("Create controller callback");
  }
}

void WebWindow::Host::controllerCompleted(HRESULT result, ICoreWebView2Controller* created) {
  if (owner.recoveryTest && startup.attempt == 0) {
    if (created != nullptr) {
      created->Close();
    }
    reportFailure("Create controller callback", statusCode(E_FAIL));
    return;
  }
  if (FAILED(result) || created == nullptr) {
    reportFailure("Create controller callback", statusCode(result));
    return;
  }
  created->AddRef();
  controller = ComRef<ICoreWebView2Controller>::adopt(created);
  webview.reset();
  const HRESULT got = controller->get_CoreWebView2(webview.put());
  if (FAILED(got) || !webview) {
    reportFailure("Get browser view", statusCode(got));
    return;
  }
  fitBrowserToWindow();
  // The window was activated before the view existed: the keyboard goes to the page now.
  if (GetForegroundWindow() == window) {
    controller->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
  }
  configureView();
  navigate(startPage);
}

void WebWindow::Host::reportFailure(std::string_view stage, std::uint32_t code) {
  const StartupOutcome outcome = reportStartupFailure(startup, stage, code);
  InvalidateRect(window, nullptr, TRUE);
  if (outcome == StartupOutcome::Restart) {
    PostMessageW(window, kRestartMessage, 0, 0);
  } else {
    failedForGood = true;
  }
}

void WebWindow::Host::awaitCreation(std::string stage) {
  awaitedStage = std::move(stage);
  SetTimer(window, kCreationTimer,
           owner.testMode ? kTestCreationLimitMilliseconds : kCreationLimitMilliseconds, nullptr);
}

// Whether a completion belongs to the start under way, whose wait it then ends.
bool WebWindow::Host::creationCompleted(unsigned start) {
  if (start != startNumber || awaitedStage.empty()) {
    return false;
  }
  awaitedStage.clear();
  KillTimer(window, kCreationTimer);
  return true;
}

void WebWindow::Host::creationTimedOut() {
  KillTimer(window, kCreationTimer);
  if (awaitedStage.empty()) {
    return;
  }
  const std::string stage = std::move(awaitedStage);
  awaitedStage.clear();
  ++startNumber;  // a completion that comes after all is not this start's any more
  reportFailure(stage, kTimedOut);
}

// A page whose renderer ended is loaded again, and one whose renderer keeps being reported
// unresponsive; a browser that ended takes the view with it, which is started again as after a
// failed start (asynchronously: not from inside the view's own event).
void WebWindow::Host::processFailed(ICoreWebView2ProcessFailedEventArgs* args) {
  COREWEBVIEW2_PROCESS_FAILED_KIND kind = COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
  args->get_ProcessFailedKind(&kind);
  switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
      PostMessageW(window, kBrowserExitedMessage, 0, 0);
      break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
      if (unresponsive.reported()) {
        reload();
      }
      break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
      reload();
      break;
    default:
      break;  // the runtime starts its other processes again itself
  }
}

void WebWindow::Host::reload() {
  if (webview) {
    ready = false;
    webview->Reload();
  }
}

void WebWindow::Host::releaseBrowser() {
  awaitedStage.clear();
  unresponsive = {};
  if (window != nullptr) {
    KillTimer(window, kCreationTimer);
  }
  if (controller) {
    controller->Close();
  }
  webview.reset();
  controller.reset();
  environment.reset();
}

}  // namespace muvra
