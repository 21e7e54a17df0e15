#include <stdlib.h>

#include "base/path_text.h"
#include "base/process.h"
#include "support/launch_recorder.h"
#include "support/windows_program.h"

namespace muvra::testing {

LaunchRecorder::LaunchRecorder(std::filesystem::path scratch) : scratch_(std::move(scratch)) {
  const char* path = std::getenv("PATH");
  savedPath_ = path != nullptr ? path : "";
}

LaunchRecorder::~LaunchRecorder() {
  setenv("PATH", savedPath_.c_str(), 1);
}

std::string LaunchRecorder::recordingRelease() {
  const std::filesystem::path bin = scratch_ / "bin";
  std::filesystem::create_directories(bin);
  std::filesystem::copy_file(modulePath().parent_path() / "muvra-test-child", bin / "wine",
                             std::filesystem::copy_options::overwrite_existing);
  setenv("PATH", bin.c_str(), 1);
  return windowsProgram(300000, '1');
}

std::string LaunchRecorder::failingRelease() {
  setenv("PATH", (scratch_ / "empty").c_str(), 1);
  return windowsProgram(300000, '1');
}

// No wine on PATH.
std::string LaunchRecorder::failureSentence() {
  return "Could not launch Muvra. It is a Windows program, which starts through Wine: install "
         "Wine so that the wine command is on your PATH.";
}

std::string LaunchRecorder::expectedRecord(const InstallLayout& layout) const {
  return pathToUtf8(std::filesystem::canonical(layout.loaderFolder)) + "\n" +
         pathToUtf8(layout.executablePath) + "\n--config\n" + pathToUtf8(layout.settingsPath) +
         "\n";
}

}  // namespace muvra::testing
