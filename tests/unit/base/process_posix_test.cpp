#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "base/failure.h"
#include "base/process.h"

namespace muvra {
namespace {

// What modulePath does in a child whose /proc hides the executable: 0 it threw the sentence,
// 1 it returned a path, 2 it threw something else, 3 the child could not hide /proc.
int modulePathWithoutProc() {
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/proc", "tmpfs", 0, nullptr) != 0) {
      _exit(3);
    }
    try {
      modulePath();
      _exit(1);
    } catch (const OperationFailure& failure) {
      _exit(std::strcmp(failure.what(), "Cannot locate the executable path.") == 0 ? 0 : 2);
    } catch (...) {
      _exit(2);
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ModulePathTest, NamesTheRunningProgram) {
  EXPECT_EQ(modulePath().filename(), "muvra-unit-tests");
}

TEST(ModulePathTest, AnUnknownPathIsAFailureNotAnEmptyPath) {
  const int outcome = modulePathWithoutProc();
  if (outcome == 3) {
    GTEST_SKIP() << "this process may not mount over /proc";
  }
  EXPECT_EQ(outcome, 0);
}

}  // namespace
}  // namespace muvra
