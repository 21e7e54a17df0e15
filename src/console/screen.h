#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace muvra {

enum class ScreenPhase {
  CheckingRelease,
  Downloading,
  VerifyingUpdate,
  ReadyToLaunch,
  Launching,
  ActionNeeded,
  Cancelled,
};

enum class LineRole : std::int32_t {
  Body = 0,
  Accent = 1,
  Muted = 2,
  Success = 3,
  Warning = 4,
};

struct ScreenState {
  ScreenPhase phase = ScreenPhase::ReadyToLaunch;
  std::string message;
  std::string releaseStatus = "Not checked";
  std::int32_t percent = -1;  // negative: no progress bar; above 100 drawn as 100
  std::uint64_t downloaded = 0;
  std::uint64_t total = 0;  // 0: unknown
  bool verified = false;
};

struct ScreenLine {
  std::string text;  // printable ASCII only
  LineRole role = LineRole::Body;

  bool operator==(const ScreenLine&) const = default;
};

using ScreenFrame = std::vector<ScreenLine>;

// Set by the console control handler (Ctrl+C, Ctrl+Break); never cleared.
extern std::atomic<bool> stopRequested;

const char* phaseTitle(ScreenPhase phase);
bool isBusy(ScreenPhase phase);

// Inner width W of a screen `width` columns wide; every row is W + 6 characters.
std::size_t innerWidth(std::size_t width);

// The 23 rows of the screen. Pure: no console, no clock.
ScreenFrame renderScreen(const ScreenState& state, std::size_t width, unsigned tick);

// The 16-row frame for short windows: banner and subtitle replaced by one title row.
ScreenFrame compactFrame(const ScreenFrame& full, std::size_t width);

}  // namespace muvra
