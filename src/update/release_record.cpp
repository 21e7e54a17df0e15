#include "update/release_record.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "base/process.h"
#include "net/https_client.h"
#include "update/files.h"
#include "update/profile.h"
#include "update/user_data_folder.h"

namespace muvra {

namespace {

constexpr std::size_t kMostRecordBytes = 4096;
constexpr std::size_t kMostTagBytes = 256;

bool isDigest(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Four numbers of 0 to 65535, most significant first.
std::optional<FileVersion> fileVersionOf(const nlohmann::json& parts) {
  if (!parts.is_array() || parts.size() != 4) {
    return std::nullopt;
  }
  std::uint64_t packed = 0;
  for (const nlohmann::json& part : parts) {
    if (!part.is_number_unsigned() || part.get<std::uint64_t>() > 0xFFFF) {
      return std::nullopt;
    }
    packed = packed << 16 | part.get<std::uint64_t>();
  }
  return FileVersion{packed};
}

}  // namespace

std::filesystem::path releaseRecordPath(const std::filesystem::path& profileRoot,
                                        const std::filesystem::path& executable) {
  return profileRoot / (profileKey(executable) + "-verified-release.json");
}

std::string releaseRecordText(const ReleaseRecord& record) {
  const ReleaseInfo& release = record.release;
  nlohmann::json text{{"sha256", release.sha256}, {"size", release.size}, {"tag", release.tag}};
  if (record.fileVersion) {
    const FileVersion& version = *record.fileVersion;
    text["fileVersion"] = {version.part(0), version.part(1), version.part(2), version.part(3)};
  }
  return text.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<ReleaseRecord> parseReleaseRecord(std::string_view text) {
  const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
  if (!record.is_object() || !record.contains("tag") || !record["tag"].is_string() ||
      !record.contains("sha256") || !record["sha256"].is_string() || !record.contains("size") ||
      !record["size"].is_number_unsigned()) {
    return std::nullopt;
  }
  ReleaseInfo release;
  release.tag = record["tag"].get<std::string>();
  release.sha256 = record["sha256"].get<std::string>();
  release.size = record["size"].get<std::uint64_t>();
  if (release.tag.empty() || release.tag.size() > kMostTagBytes || !isDigest(release.sha256) ||
      release.size < kMinimumAssetSize || release.size > kMaximumAssetSize) {
    return std::nullopt;
  }
  ReleaseRecord parsed{release, std::nullopt};
  if (record.contains("fileVersion")) {
    parsed.fileVersion = fileVersionOf(record["fileVersion"]);
    if (!parsed.fileVersion) {
      return std::nullopt;
    }
  }
  return parsed;
}

void writeReleaseRecord(const std::filesystem::path& path, const ReleaseRecord& record) noexcept {
  try {
    if (createFolders(path.parent_path(), path.parent_path())) {
      return;
    }
    const std::filesystem::path written =
        path.parent_path() / (path.filename().string() + "." + std::to_string(processId()) + "-" +
                              std::to_string(tickMilliseconds()) + ".new");
    std::optional<NewFile> file = NewFile::create(written);
    if (!file) {
      return;
    }
    const std::string text = releaseRecordText(record);
    const bool saved =
        file->write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) &&
        file->flush();
    file->close();
    if (!saved || !replaceFile(written, path)) {
      removeFileQuietly(written);
    }
  } catch (...) {
    // The record only ever helps: a check is never failed for it.
  }
}

std::optional<ReleaseRecord> readReleaseRecord(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  std::string text(kMostRecordBytes + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  if (text.size() > kMostRecordBytes) {
    return std::nullopt;
  }
  return parseReleaseRecord(text);
}

bool allowsOfflineStart(std::string_view sentence) {
  if (sentence == kCannotReachGitHub ||
      sentence == "The download was interrupted. Your previous installation was kept." ||
      sentence == statusFailureSentence(429)) {
    return true;
  }
  for (long status = 500; status < 600; ++status) {  // the service failing for now
    if (sentence == statusFailureSentence(status)) {
      return true;
    }
  }
  return false;
}

std::string offlineStartMessage(std::string_view tag) {
  return "GitHub could not be reached. The verified release " + std::string(tag) +
         " on this computer can start.";
}

}  // namespace muvra
