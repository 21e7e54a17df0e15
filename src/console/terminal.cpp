#include "console/terminal.h"

#include <cmath>

namespace muvra {

void ConsoleTerminal::close() {
  if (!available_) {
    return;
  }
  available_ = false;
  restore();
  previousFrame_.clear();
}

std::string roleEscape(LineRole role, unsigned tick) {
  switch (role) {
    case LineRole::Accent: {
      const int green = static_cast<int>(56.0 + 14.0 * std::sin(0.055 * tick));
      return "\x1b[38;2;255;" + std::to_string(green) + ";100m";
    }
    case LineRole::Muted:
      return "\x1b[38;2;125;132;154m";
    case LineRole::Success:
      return "\x1b[38;2;111;224;167m";
    case LineRole::Warning:
      return "\x1b[38;2;255;174;107m";
    case LineRole::Body:
      break;
  }
  return "\x1b[38;2;231;233;242m";
}

std::uint16_t classicAttribute(LineRole role) {
  switch (role) {
    case LineRole::Accent:
      return 12;
    case LineRole::Muted:
      return 8;
    case LineRole::Success:
      return 10;
    case LineRole::Warning:
      return 14;
    case LineRole::Body:
      break;
  }
  return 7;
}

std::string rowEscapes(std::size_t row, const ScreenLine& line, unsigned tick) {
  return "\x1b[" + std::to_string(row + 1) + ";1H" + roleEscape(line.role, tick) + line.text +
         "\x1b[K";
}

bool rowNeedsDrawing(const ScreenFrame& previous, const ScreenFrame& frame, std::size_t row) {
  return row >= previous.size() || previous[row] != frame[row] ||
         frame[row].role == LineRole::Accent;
}

void drawFrame(ConsoleTerminal& terminal, const ScreenState& state, unsigned tick) {
  if (terminal.takeResumed()) {
    terminal.previousFrame_.clear();
  }
  const std::optional<ConsoleWindow> sized = terminal.window();
  const std::size_t width = sized ? sized->columns : 84;
  ScreenFrame frame = renderScreen(state, width, tick);

  constexpr std::size_t kFullFrameRows = 24;
  const std::optional<ConsoleWindow> window = terminal.window();
  if (!window || window->rows < kFullFrameRows) {
    frame = compactFrame(frame, width);
  }
  for (std::size_t row = 0; row < frame.size(); ++row) {
    if (rowNeedsDrawing(terminal.previousFrame_, frame, row)) {
      terminal.writeRow(row, frame[row], tick);
    }
  }
  terminal.endFrame();
  terminal.previousFrame_ = std::move(frame);
}

}  // namespace muvra
