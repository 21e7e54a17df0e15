#include "console/terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <deque>
#include <iostream>

namespace muvra {

namespace {

constexpr const char kRestoreText[] = "\x1b[0m\x1b[?25h";

// Read by the termination handler, which may run at any moment while the terminal is open.
struct termios terminationRestore;

void onInterrupt(int) {
  stopRequested.store(true);
}

// Ends like the default action, but never leaves the terminal raw with a hidden cursor.
void onTermination(int signal) {
  tcsetattr(STDIN_FILENO, TCSANOW, &terminationRestore);
  [[maybe_unused]] const ssize_t written =
      write(STDOUT_FILENO, kRestoreText, sizeof kRestoreText - 1);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

constexpr int kTerminationSignals[] = {SIGTERM, SIGHUP};

}  // namespace

struct ConsoleTerminal::Saved {
  struct termios input {};
  struct sigaction interrupt {};
  struct sigaction termination[std::size(kTerminationSignals)]{};
  std::deque<int> pendingKeys;
};

ConsoleTerminal::ConsoleTerminal() : saved_(std::make_unique<Saved>()) {
  struct termios output {};
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) ||
      tcgetattr(STDIN_FILENO, &saved_->input) != 0 || tcgetattr(STDOUT_FILENO, &output) != 0) {
    return;
  }
  available_ = true;
  virtualTerminal_ = true;

  struct termios raw = saved_->input;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  terminationRestore = saved_->input;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);

  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = onInterrupt;
  sigaction(SIGINT, &action, &saved_->interrupt);
  action.sa_handler = onTermination;
  for (std::size_t i = 0; i < std::size(kTerminationSignals); ++i) {
    sigaction(kTerminationSignals[i], &action, &saved_->termination[i]);
  }

  std::cout << "\x1b[?25l"
            << "\x1b]0;MUVRA | Console Loader\x07"
            << "\x1b[48;2;10;11;16m\x1b[2J\x1b[H";
  std::cout.flush();
}

// Defined where Saved is complete.
ConsoleTerminal::~ConsoleTerminal() {
  close();
}

void ConsoleTerminal::restore() {
  std::size_t row = previousFrame_.size();
  if (const std::optional<ConsoleWindow> size = window(); size && size->rows > 0) {
    row = std::min(row, size->rows - 1);
  }
  std::cout << "\x1b[0m\x1b[" << row + 1 << ";1H\x1b[?25h";
  std::cout.flush();
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_->input);
  sigaction(SIGINT, &saved_->interrupt, nullptr);
  for (std::size_t i = 0; i < std::size(kTerminationSignals); ++i) {
    sigaction(kTerminationSignals[i], &saved_->termination[i], nullptr);
  }
}

bool ConsoleTerminal::keyWaiting() {
  if (!saved_->pendingKeys.empty()) {
    return true;
  }
  struct pollfd input = {STDIN_FILENO, POLLIN, 0};
  return poll(&input, 1, 0) > 0 && (input.revents & POLLIN) != 0;
}

// A lone ESC is the key itself; ESC with more bytes in the same read is a key of two parts
// (arrows, function keys), passed on as 0 and one second part, the rest dropped.
int ConsoleTerminal::readKey() {
  if (saved_->pendingKeys.empty()) {
    unsigned char bytes[64];
    const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count <= 0) {
      return -1;
    }
    if (bytes[0] == 27 && count > 1) {
      saved_->pendingKeys = {0, bytes[1]};
    } else {
      saved_->pendingKeys.assign(bytes, bytes + count);
    }
  }
  const int key = saved_->pendingKeys.front();
  saved_->pendingKeys.pop_front();
  return key;
}

std::optional<ConsoleWindow> ConsoleTerminal::window() const {
  struct winsize size {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    return std::nullopt;
  }
  return ConsoleWindow{0, 0, size.ws_col, size.ws_row};
}

void ConsoleTerminal::writeRow(std::size_t row, const ScreenLine& line, unsigned tick) {
  std::cout << rowEscapes(row, line, tick);
}

}  // namespace muvra
