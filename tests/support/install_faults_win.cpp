#include <windows.h>

#include <vector>

#include "base/unique_handle.h"
#include "support/install_faults.h"

namespace muvra::testing {

namespace {

struct FileTraits {
  using Handle = HANDLE;
  static Handle invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Handle handle) { CloseHandle(handle); }
};

std::vector<UniqueHandle<FileTraits>>& heldFiles() {
  static std::vector<UniqueHandle<FileTraits>> handles;
  return handles;
}

}  // namespace

std::string limitFileSize(std::uint64_t) {
  return "Windows has no per-process file size limit, and Wine maps no drive of a given size";
}

std::string makeFolderReadOnly(const std::filesystem::path&) {
  return "Wine runs as the Unix user, here root, whom no permission keeps out of a folder";
}

// What a running program does to its file: open without delete sharing.
std::string keepFromBeingReplaced(const std::filesystem::path& file, const std::filesystem::path&) {
  UniqueHandle<FileTraits> handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) {
    return "could not open " + file.string();
  }
  heldFiles().push_back(std::move(handle));
  return "";
}

void undoInstallFaults() {
  heldFiles().clear();
}

BriefHold::BriefHold(const std::filesystem::path& file, std::chrono::milliseconds time) {
  HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  releaser_ = std::thread([held, time] {
    std::this_thread::sleep_for(time);
    if (held != INVALID_HANDLE_VALUE) {
      CloseHandle(held);
    }
  });
}

BriefHold::~BriefHold() {
  releaser_.join();
}

}  // namespace muvra::testing
