#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace muvra::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, std::string_view bytes);
std::string readFile(const std::filesystem::path& path);

// Names of the entries of a folder, sorted.
std::string listFolder(const std::filesystem::path& folder);

}  // namespace muvra::testing
