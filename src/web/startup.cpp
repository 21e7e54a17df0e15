#include "web/startup.h"

#include <cerrno>
#include <fstream>

#include "base/failure.h"
#include "base/path_text.h"
#include "base/process.h"
#include "web/profile.h"

namespace muvra {

namespace {

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

bool isLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

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

bool isAbsoluteProfileOverride(std::string_view value, bool windowsRules) {
  if (!windowsRules) {
    return value.starts_with("/");
  }
  if (value.size() >= 3 && isLetter(value[0]) && value[1] == ':' && isSeparator(value[2])) {
    return true;
  }
  if (value.starts_with("\\\\?\\")) {
    return true;
  }
  // A UNC root: two separators and a server name.
  return value.size() >= 3 && isSeparator(value[0]) && isSeparator(value[1]) &&
         !isSeparator(value[2]);
}

std::filesystem::path chooseProfileRoot(const std::optional<std::string>& override,
                                        bool windowsRules,
                                        const std::filesystem::path& defaultRoot) {
  if (!override) {
    return defaultRoot / "Muvra" / "WebView2";
  }
  if (!isAbsoluteProfileOverride(*override, windowsRules)) {
    throw OperationFailure("The WebView2 profile override must be an absolute folder path.");
  }
  return pathFromUtf8(*override);
}

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

std::uint32_t statusFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return 0x80070005;  // access denied
    case ENOENT:
    case ENOTDIR:
      return 0x80070003;  // path not found
    case EROFS:
      return 0x80070013;  // write protected
    case ENOSPC:
      return 0x80070070;  // disk full
    default:
      return 0x80004005;  // unspecified failure
  }
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
