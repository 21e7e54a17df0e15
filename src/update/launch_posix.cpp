#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/failure.h"
#include "proof/executable_check.h"
#include "update/launch.h"

extern char** environ;

namespace muvra {
namespace {

class Pipe {
 public:
  Pipe() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) {
      fds_[0] = fds_[1] = -1;
    }
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool isOpen() const { return fds_[0] >= 0; }
  int readEnd() const { return fds_[0]; }
  int writeEnd() const { return fds_[1]; }
  void closeRead() { closeFd(fds_[0]); }
  void closeWrite() { closeFd(fds_[1]); }

 private:
  static void closeFd(int& fd) {
    if (fd >= 0)
      ::close(fd);
    fd = -1;
  }
  int fds_[2];
};

// Runs in the forked children: only async-signal-safe calls from here on.
[[noreturn]] void execDetached(const char* program,
                               char* const* argv,
                               const char* folder,
                               int errorPipe) {
  ::setsid();
  const pid_t grandchild = ::fork();
  if (grandchild > 0) {
    ::_exit(0);  // the intermediate child ends at once; the grandchild is adopted by init
  }
  int error = 0;
  if (grandchild < 0) {
    error = errno;
  } else if (::chdir(folder) != 0) {
    error = errno;
  } else {
    // Nothing but the standard streams is inherited (the error pipe is close-on-exec too).
    ::syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC);
    ::execve(program, argv, environ);
    error = errno;
  }
  while (::write(errorPipe, &error, sizeof(error)) < 0 && errno == EINTR) {
  }
  ::_exit(127);
}

}  // namespace

void launchApplication(const std::filesystem::path& executable,
                       const std::filesystem::path& settings,
                       const std::filesystem::path& workingFolder) {
  std::optional<std::filesystem::path> wine;
  if (isWindowsExecutable(executable)) {
    const char* searchPath = std::getenv("PATH");
    wine = findProgramOnPath("wine", searchPath != nullptr ? searchPath : "", workingFolder);
    if (!wine) {
      throw OperationFailure(
          "Could not launch Muvra. It is a Windows program, which starts through Wine: install "
          "Wine so that the wine command is on your PATH.");
    }
  }
  std::vector<std::string> arguments = launchArguments(executable, settings, wine);
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  const std::string folder = workingFolder.native();

  Pipe errorPipe;
  if (!errorPipe.isOpen()) {
    throw OperationFailure("Could not launch Muvra.");
  }
  const pid_t child = ::fork();
  if (child < 0) {
    throw OperationFailure("Could not launch Muvra.");
  }
  if (child == 0) {
    execDetached(argv[0], argv.data(), folder.c_str(), errorPipe.writeEnd());
  }
  errorPipe.closeWrite();
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // The pipe reaches end of file when the program was started (close-on-exec) or never forked.
  int childError = 0;
  ssize_t count;
  do {
    count = ::read(errorPipe.readEnd(), &childError, sizeof(childError));
  } while (count < 0 && errno == EINTR);
  const bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!forked || count != 0) {
    throw OperationFailure("Could not launch Muvra.");
  }
}

}  // namespace muvra
