#include "support/script_server_posix.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace muvra::testing {

int startScriptServer(const std::vector<std::string>& arguments, int& pid) {
  int output[2];
  if (::pipe(output) != 0) {
    throw std::runtime_error("Could not create a pipe for a test server.");
  }
  std::vector<char*> command{const_cast<char*>("python3")};
  for (const std::string& argument : arguments) {
    command.push_back(const_cast<char*>(argument.c_str()));
  }
  command.push_back(nullptr);
  const pid_t parent = ::getpid();
  pid = ::fork();
  if (pid == 0) {
    // The server ends with the test binary, also one that aborts before stopping it.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) {
      ::_exit(127);
    }
    ::dup2(output[1], STDOUT_FILENO);
    ::close(output[0]);
    ::close(output[1]);
    ::execvp("python3", command.data());
    ::_exit(127);
  }
  ::close(output[1]);
  FILE* stream = ::fdopen(output[0], "r");
  char line[64] = {};
  int port = 0;
  const bool started = stream != nullptr && std::fgets(line, sizeof(line), stream) != nullptr &&
                       std::sscanf(line, "PORT %d", &port) == 1;
  if (stream != nullptr) {
    std::fclose(stream);
  }
  if (!started) {
    stopScriptServer(pid);
    throw std::runtime_error("A test server did not start: " + arguments.front());
  }
  return port;
}

void stopScriptServer(int pid) {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

FakeProxy::FakeProxy(const std::string& mode, const std::string& record) {
  std::vector<std::string> arguments{MUVRA_FAKE_PROXY_SCRIPT, mode};
  if (!record.empty()) {
    arguments.push_back(record);
  }
  port_ = startScriptServer(arguments, pid_);
  ::setenv("https_proxy", ("http://127.0.0.1:" + std::to_string(port_)).c_str(), 1);
}

FakeProxy::~FakeProxy() {
  ::unsetenv("https_proxy");
  stopScriptServer(pid_);
}

}  // namespace muvra::testing
