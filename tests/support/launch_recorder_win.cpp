#include "base/path_text.h"
#include "base/process.h"
#include "support/launch_recorder.h"
#include "support/temporary_folder.h"
#include "support/windows_program.h"

namespace muvra::testing {

LaunchRecorder::LaunchRecorder(std::filesystem::path scratch) : scratch_(std::move(scratch)) {}

LaunchRecorder::~LaunchRecorder() = default;

std::string LaunchRecorder::recordingRelease() {
  return readFile(modulePath().parent_path() / "muvra-test-child.exe");
}

// The headers of a 64-bit program over nothing runnable: CreateProcessW refuses it.
std::string LaunchRecorder::failingRelease() {
  return windowsProgram(300000, '1');
}

std::string LaunchRecorder::failureSentence() {
  return "Could not launch Muvra.";
}

std::string LaunchRecorder::expectedRecord(const InstallLayout& layout) const {
  return pathToUtf8(std::filesystem::canonical(layout.loaderFolder)) + "\n--config\n" +
         pathToUtf8(layout.settingsPath) + "\n";
}

}  // namespace muvra::testing
