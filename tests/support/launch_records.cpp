#include "support/launch_records.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "base/path_text.h"
#include "support/temporary_folder.h"

namespace muvra::testing {

namespace {

// Every whole record: each child renames its record into place once written.
std::vector<std::string> readRecords(const std::filesystem::path& folder) {
  std::vector<std::string> records;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = pathToUtf8(entry.path().filename());
    if (name.starts_with("launch-record-") && name.ends_with(".txt")) {
      try {
        records.push_back(readFile(entry.path()));
      } catch (const std::runtime_error&) {
        // Windows may still be finishing the child's rename; look again.
        return {};
      }
    }
  }
  return records;
}

}  // namespace

std::vector<std::string> awaitLaunchRecords(const std::filesystem::path& folder,
                                            std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::vector<std::string> records = readRecords(folder);
  while (records.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
    records = readRecords(folder);
  }
  return records;
}

}  // namespace muvra::testing
