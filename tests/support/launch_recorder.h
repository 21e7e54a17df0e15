#pragma once

#include <filesystem>
#include <string>

#include "update/install_layout.h"

namespace muvra::testing {

// Makes the launch of the installed program observable: the bytes to publish as the release so
// that launching it writes a record (awaitLaunchRecords finds it), or so that launching it fails.
// Linux starts the installed Windows program through `wine` from PATH, so there the recorder
// puts a recording `wine` on PATH, or none, and restores PATH when destroyed; Windows starts
// what was published.
class LaunchRecorder {
 public:
  explicit LaunchRecorder(std::filesystem::path scratch);
  ~LaunchRecorder();
  LaunchRecorder(const LaunchRecorder&) = delete;
  LaunchRecorder& operator=(const LaunchRecorder&) = delete;

  std::string recordingRelease();
  std::string failingRelease();
  // What the launch of the failing release says.
  static std::string failureSentence();
  // The record a launch of `layout`'s program writes.
  std::string expectedRecord(const InstallLayout& layout) const;

 private:
  std::filesystem::path scratch_;
  std::string savedPath_;
};

}  // namespace muvra::testing
