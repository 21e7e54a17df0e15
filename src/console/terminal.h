#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "console/screen.h"

namespace muvra {

struct ConsoleWindow {
  std::size_t left = 0;
  std::size_t top = 0;
  std::size_t columns = 0;
  std::size_t rows = 0;
};

// The attached console prepared for full-screen drawing, restored when closed or destroyed.
// Not available (and nothing changed) when standard input or output is not a console.
class ConsoleTerminal {
 public:
  ConsoleTerminal();
  ~ConsoleTerminal();
  ConsoleTerminal(const ConsoleTerminal&) = delete;
  ConsoleTerminal& operator=(const ConsoleTerminal&) = delete;

  bool available() const { return available_; }
  bool virtualTerminal() const { return virtualTerminal_; }
  void close();

  // Keyboard polling without echo. A key of two parts arrives as 0 or 224, then its second part.
  bool keyWaiting();
  int readKey();

  std::optional<ConsoleWindow> window() const;
  // Writes one row of a frame at console row `row` of the visible window.
  void writeRow(std::size_t row, const ScreenLine& line, unsigned tick);
  // Puts the rows written since the last call on the screen.
  void endFrame();

 private:
  friend void drawFrame(ConsoleTerminal& terminal, const ScreenState& state, unsigned tick);

  // Puts back what the constructor changed; the frame drawn last is still known here.
  void restore();
  // Whether the terminal was given back and taken again since the last call (job control), so
  // that nothing drawn before may be assumed on the screen.
  bool takeResumed();

  struct Saved;  // the console settings to restore, per platform
  std::unique_ptr<Saved> saved_;
  bool available_ = false;
  bool virtualTerminal_ = false;
  ScreenFrame previousFrame_;
};

// Renders the state at the console's width and writes only the rows that changed.
void drawFrame(ConsoleTerminal& terminal, const ScreenState& state, unsigned tick);

// True-colour foreground escape and classic console attribute of a role.
std::string roleEscape(LineRole role, unsigned tick);
std::uint16_t classicAttribute(LineRole role);

// Cursor to `row`, the role's colour, the text, and erase to the end of the line.
std::string rowEscapes(std::size_t row, const ScreenLine& line, unsigned tick);

// Whether row `row` of `frame` must be written over `previous`.
bool rowNeedsDrawing(const ScreenFrame& previous, const ScreenFrame& frame, std::size_t row);

}  // namespace muvra
