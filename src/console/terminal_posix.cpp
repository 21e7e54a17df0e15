#include "console/terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <string>

namespace muvra {

namespace {

constexpr const char kRestoreText[] = "\x1b[0m\x1b[?25h";

constexpr const char kPrepareText[] = "\x1b[?25l";

// The terminal as it was, and as the program uses it; read by the signal handlers, which may run
// at any moment while the terminal is open.
struct termios cookedMode;
struct termios rawMode;
std::atomic<bool> resumed{false};

// Writes all of `text`, going on where a signal interrupted the write: a signal handled while
// the terminal's buffer is full must not drop a frame's end or the restore. Async-signal-safe.
void writeText(const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(STDOUT_FILENO, text, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    text += written;
    size -= static_cast<std::size_t>(written);
  }
}

void writeText(const std::string& text) {
  writeText(text.data(), text.size());
}

// Puts the terminal back as it was, dropping keys typed but not yet read.
void restoreTerminal() {
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &cookedMode);
  writeText(kRestoreText, sizeof kRestoreText - 1);
}

void onInterrupt(int) {
  stopRequested.store(true);
}

// Ends like the default action, but never leaves the terminal raw with a hidden cursor.
void onTermination(int signal) {
  restoreTerminal();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// Ctrl+Z: stops with the terminal as the shell expects it, and takes it again when continued.
void onStop(int) {
  const int savedErrno = errno;
  restoreTerminal();
  struct sigaction stop {};
  struct sigaction previous {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTSTP, &stop, &previous);
  sigset_t pending;
  sigemptyset(&pending);
  sigaddset(&pending, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &pending, nullptr);
  raise(SIGTSTP);  // stopped here until SIGCONT
  sigprocmask(SIG_BLOCK, &pending, nullptr);
  sigaction(SIGTSTP, &previous, nullptr);
  tcsetattr(STDIN_FILENO, TCSANOW, &rawMode);
  writeText(kPrepareText, sizeof kPrepareText - 1);
  resumed.store(true);
  errno = savedErrno;
}

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

using Handler = void (*)(int);
Handler handlerOf(int signal) {
  switch (signal) {
    case SIGINT:
      return onInterrupt;
    case SIGTSTP:
      return onStop;
    default:
      return onTermination;
  }
}

}  // namespace

struct ConsoleTerminal::Saved {
  struct sigaction previous[std::size(kHandledSignals)]{};
  std::deque<int> pendingKeys;
  std::string frame;  // the rows written since the frame began
};

ConsoleTerminal::ConsoleTerminal() : saved_(std::make_unique<Saved>()) {
  struct termios output {};
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) ||
      tcgetattr(STDIN_FILENO, &cookedMode) != 0 || tcgetattr(STDOUT_FILENO, &output) != 0) {
    return;
  }
  available_ = true;
  virtualTerminal_ = true;

  rawMode = cookedMode;
  rawMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  rawMode.c_cc[VMIN] = 0;
  rawMode.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &rawMode);

  // A signal the caller ignores (nohup) stays ignored.
  for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = handlerOf(kHandledSignals[i]);
    sigaction(kHandledSignals[i], &action, &saved_->previous[i]);
    if (saved_->previous[i].sa_handler == SIG_IGN) {
      sigaction(kHandledSignals[i], &saved_->previous[i], nullptr);
    }
  }

  writeText(std::string(kPrepareText) + "\x1b]0;MUVRA | Console Loader\x07" +
            "\x1b[48;2;10;11;16m\x1b[2J\x1b[H");
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
  writeText("\x1b[0m\x1b[" + std::to_string(row + 1) + ";1H\x1b[?25h");
  for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
    sigaction(kHandledSignals[i], &saved_->previous[i], nullptr);
  }
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &cookedMode);
  saved_->pendingKeys.clear();
}

bool ConsoleTerminal::takeResumed() {
  return resumed.exchange(false);
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
  saved_->frame += rowEscapes(row, line, tick);
}

// Whole frames through write(2), not a stream that an interrupted write would break for good.
void ConsoleTerminal::endFrame() {
  writeText(saved_->frame);
  saved_->frame.clear();
}

}  // namespace muvra
