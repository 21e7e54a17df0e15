#include "window/startup.h"

#include <fstream>

#include "base/failure.h"
#include "base/path_text.h"
#include "base/process.h"
#include "update/profile.h"

namespace muvra {

namespace {

const char* failureReason(std::uint32_t code) {
  switch (code) {
    case 0x80070005:
      return "Windows denied access to the browser profile.";
    case 0x80070002:
      return "Microsoft Edge WebView2 Runtime could not be found.";
    default:
      return "The browser runtime could not finish starting.";
  }
}

}  // namespace

std::filesystem::path startupLogPath(const StartupState& state) {
  return state.profileRoot / (profileKey(state.executable) + "-startup.log");
}

std::string startupLogLine(std::uint64_t tick,
                           unsigned attempt,
                           std::string_view stage,
                           std::uint32_t code) {
  return std::to_string(tick) + " attempt=" + std::to_string(attempt) +
         " stage=" + std::string(stage) + " code=" + formatStatusCode(code) + "\n";
}

void logStartupStage(StartupState& state, std::string_view stage, std::uint32_t code) {
  state.lastStage = stage;
  state.lastCode = code;
  if (createFolders(state.profileRoot, state.profileRoot)) {
    return;
  }
  std::ofstream log(startupLogPath(state), std::ios::app);
  if (log) {
    log << startupLogLine(tickMilliseconds(), state.attempt, stage, code);
  }
}

std::string startupFailureText(std::string_view stage, std::uint32_t code) {
  return "Muvra could not open its interface.\n\nStage: " + std::string(stage) +
         "\nWindows error: " + formatStatusCode(code) + "\n\n" + failureReason(code) +
         "\n\nClose this window and retry. The startup log is under LocalAppData\\Muvra\\WebView2.";
}

std::optional<std::uint32_t> createProfileFolder(StartupState& state) {
  if (state.profileRoot.empty()) {
    state.profileRoot = profileRootFolder();
  }
  state.profileFolder = profileFolderFor(state.profileRoot, state.executable, state.attempt);
  return createFolders(state.profileRoot, state.profileFolder);
}

StartupOutcome reportStartupFailure(StartupState& state,
                                    std::string_view stage,
                                    std::uint32_t code) {
  if ((code & 0x80000000U) == 0) {
    code = kUnexpectedFailure;
  }
  logStartupStage(state, stage, code);
  if (state.attempt == 0 && !state.closing && state.windowExists) {
    state.attempt = 1;
    state.statusText = "Restarting the interface with a separate browser profile...";
    return StartupOutcome::Restart;
  }
  state.statusText = startupFailureText(stage, code);
  return StartupOutcome::Failed;
}

std::string startupSummary(const StartupState& state) {
  std::string summary = state.lastStage + " " + formatStatusCode(state.lastCode);
  if (!state.statusText.empty()) {
    summary += ": " + state.statusText;
  }
  return summary;
}

}  // namespace muvra
