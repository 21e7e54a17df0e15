#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "update/user_data_folder.h"

namespace muvra {

inline constexpr std::uint32_t kUnexpectedFailure = 0x8000FFFF;

// What the browser start-up of either host knows about itself.
struct StartupState {
  std::filesystem::path executable;   // the running launcher
  std::filesystem::path profileRoot;  // empty until first needed
  std::filesystem::path profileFolder;
  unsigned attempt = 0;  // 1 once the recovery restart was made; never more
  std::string lastStage;
  std::uint32_t lastCode = 0;
  std::string statusText;
  bool closing = false;
  bool windowExists = false;
};

std::filesystem::path startupLogPath(const StartupState& state);
std::string startupLogLine(std::uint64_t tick,
                           unsigned attempt,
                           std::string_view stage,
                           std::uint32_t code);

// Records the stage and appends its log line when it can; never fails visibly.
void logStartupStage(StartupState& state, std::string_view stage, std::uint32_t code);

// Sets the profile root when still empty and this attempt's profile folder, and creates it. A
// folder that cannot be created gives its error as a status code; a root that cannot be
// determined throws OperationFailure.
std::optional<std::uint32_t> createProfileFolder(StartupState& state);

enum class StartupOutcome { Restart, Failed };

// Logs a failed stage, then either asks for the one recovery restart or sets the error text.
// The host repaints, and on Restart posts its restart message.
StartupOutcome reportStartupFailure(StartupState& state,
                                    std::string_view stage,
                                    std::uint32_t code);

std::string startupFailureText(std::string_view stage, std::uint32_t code);
std::string startupSummary(const StartupState& state);

}  // namespace muvra
