#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

namespace muvra::testing {

// Faults users meet in the installation folder, made for real. Each answers why this process
// cannot make it (the test then skips with that reason), or an empty text once it is in place.
// undoInstallFaults puts back everything they changed.

// The disk fills up once the process has written `bytes` into one file.
std::string limitFileSize(std::uint64_t bytes);
// Nothing new may be created in `folder`.
std::string makeFolderReadOnly(const std::filesystem::path& folder);
// The installed program is in use and may not be replaced; `scratch` is a folder of the test's.
std::string keepFromBeingReplaced(const std::filesystem::path& file,
                                  const std::filesystem::path& scratch);

void undoInstallFaults();

#ifdef _WIN32
// `file` opened without delete sharing from now for `time`, as an antivirus scan or the search
// indexer opens a new program for a moment; let go by a thread of its own.
class BriefHold {
 public:
  BriefHold(const std::filesystem::path& file, std::chrono::milliseconds time);
  ~BriefHold();
  BriefHold(const BriefHold&) = delete;
  BriefHold& operator=(const BriefHold&) = delete;

 private:
  std::thread releaser_;
};
#endif

}  // namespace muvra::testing
