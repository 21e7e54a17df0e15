#include "support/temporary_folder.h"

#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <stdexcept>

#include "base/path_text.h"

namespace muvra::testing {

TemporaryFolder::TemporaryFolder() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        std::filesystem::temp_directory_path() / ("muvra test " + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("Could not create a temporary folder.");
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TemporaryFolder::operator/(std::string_view name) const {
  return path_ / pathFromUtf8(name);
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) {
    throw std::runtime_error("Could not write " + pathToUtf8(path));
  }
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw std::runtime_error("Could not read " + pathToUtf8(path));
  }
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string listFolder(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(pathToUtf8(entry.path().filename()));
  }
  std::string list;
  for (const std::string& name : names) {
    list += (list.empty() ? "" : " ") + name;
  }
  return list;
}

}  // namespace muvra::testing
