#include "console/screen.h"

#include <algorithm>
#include <array>

namespace muvra {

std::atomic<bool> stopRequested{false};

namespace {

// MUVRA in block letters: 7 + 6 + 6 + 6 + 6 columns and one blank between letters.
constexpr std::array<const char*, 5> kBanner = {
    "M     M U    U V    V RRRRR    AA  ", "MM   MM U    U V    V R    R  A  A ",
    "M M M M U    U  V  V  RRRRR  A    A", "M  M  M U    U  V  V  R   R  AAAAAA",
    "M     M  UUUU    VV   R    R A    A",
};

constexpr const char* kSpinner = "|/-\\";

std::string printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte > 126) {
      c = ' ';
    }
  }
  return out;
}

std::string fitted(std::string_view text, std::size_t w) {
  std::string out = printable(text.substr(0, std::min(text.size(), w)));
  out.resize(w, ' ');
  return out;
}

class FrameBuilder {
 public:
  explicit FrameBuilder(std::size_t w) : w_(w) {}

  void border() { frame_.push_back({"  +" + std::string(w_ + 2, '-') + "+", LineRole::Accent}); }
  void row(std::string_view text, LineRole role) {
    frame_.push_back({"  | " + fitted(text, w_) + " |", role});
  }
  void centred(std::string_view text, LineRole role) {
    const std::size_t indent = text.size() < w_ ? (w_ - text.size()) / 2 : 0;
    row(std::string(indent, ' ') + std::string(text), role);
  }
  ScreenFrame take() { return std::move(frame_); }

 private:
  std::size_t w_;
  ScreenFrame frame_;
};

std::string progressText(std::int32_t percent, std::size_t w) {
  const std::int32_t p = std::min(percent, 100);
  const std::size_t bar = w - 9;
  const std::size_t filled = bar * static_cast<std::size_t>(p) / 100;
  return "[" + std::string(filled, '=') + std::string(bar - filled, '.') + "] " +
         std::to_string(p) + "%";
}

std::string hintText(const ScreenState& state) {
  if (!isBusy(state.phase)) {
    return "";
  }
  if (state.phase == ScreenPhase::Downloading && state.total != 0) {
    return std::to_string(state.downloaded / 1024) + " / " + std::to_string(state.total / 1024) +
           " KB  |  ESC cancel";
  }
  return "ESC cancel current operation";
}

}  // namespace

const char* phaseTitle(ScreenPhase phase) {
  switch (phase) {
    case ScreenPhase::CheckingRelease:
      return "CHECKING RELEASE";
    case ScreenPhase::Downloading:
      return "DOWNLOADING";
    case ScreenPhase::VerifyingUpdate:
      return "VERIFYING UPDATE";
    case ScreenPhase::ReadyToLaunch:
      return "READY TO LAUNCH";
    case ScreenPhase::Launching:
      return "LAUNCHING";
    case ScreenPhase::ActionNeeded:
      return "ACTION NEEDED";
    case ScreenPhase::Cancelled:
      return "CANCELLED";
  }
  return "";
}

bool isBusy(ScreenPhase phase) {
  return phase == ScreenPhase::CheckingRelease || phase == ScreenPhase::Downloading ||
         phase == ScreenPhase::VerifyingUpdate || phase == ScreenPhase::Launching;
}

std::size_t innerWidth(std::size_t width) {
  return width < 8 + 26 ? 26 : std::min<std::size_t>(width - 8, 76);
}

ScreenFrame renderScreen(const ScreenState& state, std::size_t width, unsigned tick) {
  const std::size_t w = innerWidth(width);
  const bool failed = state.phase == ScreenPhase::ActionNeeded;
  const std::string message = printable(state.message);

  FrameBuilder screen(w);
  screen.border();
  screen.row("", LineRole::Accent);
  for (const char* line : kBanner) {
    screen.centred(line, LineRole::Accent);
  }
  screen.centred("L A U N C H E R   /   C O N S O L E", LineRole::Muted);
  screen.border();
  screen.row("RELEASE  " + state.releaseStatus, LineRole::Muted);
  screen.border();

  const std::string prefix =
      isBusy(state.phase) ? std::string(1, kSpinner[(tick / 3) % 4]) + "  " : std::string(">  ");
  screen.row(prefix + phaseTitle(state.phase), failed ? LineRole::Warning : LineRole::Accent);
  screen.row(message.substr(0, std::min(message.size(), w)),
             failed ? LineRole::Warning : LineRole::Body);
  screen.row(message.size() > w ? message.substr(w, w) : std::string(),
             failed ? LineRole::Warning : LineRole::Muted);
  if (state.percent >= 0) {
    screen.row(progressText(state.percent, w),
               state.verified ? LineRole::Success : LineRole::Accent);
  } else {
    screen.row("", LineRole::Muted);
  }
  screen.row(hintText(state), LineRole::Muted);
  screen.border();
  screen.row("[1]  Check / download latest", LineRole::Body);
  screen.row("[2]  Launch Muvra", state.verified ? LineRole::Success : LineRole::Muted);
  screen.row("[Q]  Exit", LineRole::Muted);
  screen.border();
  screen.row("MUVRA  /  HTTPS updates + SHA-256 verification", LineRole::Muted);
  screen.border();
  return screen.take();
}

ScreenFrame compactFrame(const ScreenFrame& full, std::size_t width) {
  constexpr std::size_t kFirstDropped = 1;  // the empty row, the banner and its subtitle
  constexpr std::size_t kDropped = 7;
  if (full.size() <= kFirstDropped + kDropped) {
    return full;
  }
  ScreenFrame compact(full.begin(), full.begin() + kFirstDropped);
  compact.push_back(
      {"  | " + fitted("MUVRA / CONSOLE LOADER", innerWidth(width)) + " |", LineRole::Accent});
  compact.insert(compact.end(), full.begin() + kFirstDropped + kDropped + 1, full.end());
  return compact;
}

}  // namespace muvra
