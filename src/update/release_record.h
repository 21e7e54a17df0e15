#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "update/release.h"
#include "proof/version_resource.h"

namespace muvra {

// The release this computer last proved installed (tag, size and SHA-256), kept beside the
// start-up log and keyed like the profile, so that a check that cannot reach GitHub can still
// prove the installed file against it.
std::filesystem::path releaseRecordPath(const std::filesystem::path& profileRoot,
                                        const std::filesystem::path& executable);

struct ReleaseRecord {
  ReleaseInfo release;
  // The proven file's version, kept by builds with publisher keys; records without it still read.
  std::optional<FileVersion> fileVersion;
};

std::string releaseRecordText(const ReleaseRecord& record);
// Nothing for a record that is torn, foreign or breaks the rules a release passes.
std::optional<ReleaseRecord> parseReleaseRecord(std::string_view text);

// Written to a new file beside the record and moved over it, so that a crash leaves the old
// record or the new one. A record that cannot be written is left as it was.
void writeReleaseRecord(const std::filesystem::path& path, const ReleaseRecord& record) noexcept;
std::optional<ReleaseRecord> readReleaseRecord(const std::filesystem::path& path);

// Whether a check that failed with `sentence` while asking GitHub for the latest release (before
// it decided anything about the installation) may start the recorded release: GitHub could not
// be reached, was busy or refused for now. An answer about the release never may.
bool allowsOfflineStart(std::string_view sentence);

// The message of the "ready" phase of an offline start.
std::string offlineStartMessage(std::string_view tag);

}  // namespace muvra
