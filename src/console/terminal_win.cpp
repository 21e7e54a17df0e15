#include "console/terminal.h"

#include <conio.h>
#include <windows.h>

#include <iostream>
#include <string>

namespace muvra {

namespace {

constexpr DWORD kVirtualTerminalProcessing = 0x0004;
constexpr DWORD kQuickEditMode = 0x0040;
constexpr DWORD kExtendedFlags = 0x0080;

BOOL WINAPI consoleCtrlHandler(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    stopRequested.store(true);
    return TRUE;
  }
  return FALSE;
}

std::optional<CONSOLE_SCREEN_BUFFER_INFO> screenBuffer(HANDLE output) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(output, &info)) {
    return std::nullopt;
  }
  return info;
}

}  // namespace

struct ConsoleTerminal::Saved {
  HANDLE output = nullptr;
  HANDLE input = nullptr;
  DWORD outputMode = 0;
  DWORD inputMode = 0;
  CONSOLE_CURSOR_INFO cursor{};
  WORD attribute = 7;
  std::string frame;  // the rows written since the frame began, with their escapes
};

namespace {

// Everything in one call where the console takes it: a console host (Wine's above all) pays
// for each call, far more than for its bytes.
void writeWhole(HANDLE output, const std::string& text) {
  const char* next = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(output, next, static_cast<DWORD>(left), &written, nullptr) || written == 0) {
      return;
    }
    next += written;
    left -= written;
  }
}

}  // namespace

ConsoleTerminal::ConsoleTerminal() : saved_(std::make_unique<Saved>()) {
  Saved& saved = *saved_;
  saved.output = GetStdHandle(STD_OUTPUT_HANDLE);
  saved.input = GetStdHandle(STD_INPUT_HANDLE);
  if (!GetConsoleMode(saved.output, &saved.outputMode) ||
      !GetConsoleMode(saved.input, &saved.inputMode)) {
    return;
  }
  available_ = true;
  virtualTerminal_ =
      SetConsoleMode(saved.output, saved.outputMode | kVirtualTerminalProcessing) != 0;
  SetConsoleMode(saved.input, (saved.inputMode & ~kQuickEditMode) | kExtendedFlags);

  GetConsoleCursorInfo(saved.output, &saved.cursor);
  CONSOLE_CURSOR_INFO hidden = saved.cursor;
  hidden.bVisible = FALSE;
  SetConsoleCursorInfo(saved.output, &hidden);
  if (const auto info = screenBuffer(saved.output)) {
    saved.attribute = info->wAttributes;
  }
  SetConsoleTitleW(L"MUVRA | Console Loader");
  SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);

  if (virtualTerminal_) {
    writeWhole(saved.output, "\x1b[48;2;10;11;16m\x1b[2J\x1b[H");
  } else if (const auto info = screenBuffer(saved.output)) {
    DWORD written = 0;
    const DWORD cells = static_cast<DWORD>(info->dwSize.X) * static_cast<DWORD>(info->dwSize.Y);
    FillConsoleOutputCharacterA(saved.output, ' ', cells, COORD{0, 0}, &written);
  }
}

// Defined where Saved is complete.
ConsoleTerminal::~ConsoleTerminal() {
  close();
}

void ConsoleTerminal::restore() {
  Saved& saved = *saved_;
  if (virtualTerminal_) {
    writeWhole(saved.output, "\x1b[0m");
  }
  if (const auto info = screenBuffer(saved.output)) {
    const SHORT below = static_cast<SHORT>(info->srWindow.Top + previousFrame_.size());
    SetConsoleCursorPosition(saved.output, COORD{0, std::min(below, info->srWindow.Bottom)});
  }
  SetConsoleCursorInfo(saved.output, &saved.cursor);
  SetConsoleTextAttribute(saved.output, saved.attribute);
  SetConsoleMode(saved.output, saved.outputMode);
  SetConsoleMode(saved.input, saved.inputMode);
  SetConsoleCtrlHandler(consoleCtrlHandler, FALSE);
}

bool ConsoleTerminal::takeResumed() {
  return false;  // a Windows console is never suspended under the program
}

bool ConsoleTerminal::keyWaiting() {
  // A zero wait changes nothing on Windows; Wine's console host reads a terminal's keys only
  // while a thread waits on the input handle, and _kbhit alone never waits.
  WaitForSingleObject(saved_->input, 0);
  return _kbhit() != 0;
}

int ConsoleTerminal::readKey() {
  return _getch();
}

std::optional<ConsoleWindow> ConsoleTerminal::window() const {
  const auto info = screenBuffer(saved_->output);
  if (!info) {
    return std::nullopt;
  }
  const SMALL_RECT& area = info->srWindow;
  return ConsoleWindow{static_cast<std::size_t>(area.Left), static_cast<std::size_t>(area.Top),
                       static_cast<std::size_t>(area.Right - area.Left + 1),
                       static_cast<std::size_t>(area.Bottom - area.Top + 1)};
}

void ConsoleTerminal::writeRow(std::size_t row, const ScreenLine& line, unsigned tick) {
  if (virtualTerminal_) {
    saved_->frame += rowEscapes(row, line, tick);
    return;
  }
  const std::optional<ConsoleWindow> area = window();
  const std::size_t left = area ? area->left : 0;
  const std::size_t top = area ? area->top : 0;
  SetConsoleCursorPosition(saved_->output,
                           COORD{static_cast<SHORT>(left), static_cast<SHORT>(top + row)});
  SetConsoleTextAttribute(saved_->output, classicAttribute(line.role));
  std::cout << line.text;
  std::cout.flush();
}

void ConsoleTerminal::endFrame() {
  writeWhole(saved_->output, saved_->frame);
  saved_->frame.clear();
}

}  // namespace muvra
