#include "web/update_check.h"

#include <optional>
#include <string>

#include "base/failure.h"
#include "base/path_text.h"
#include "base/process.h"
#include "update/executable_check.h"
#include "update/files.h"
#include "update/https_client.h"
#include "update/launch.h"
#include "update/release.h"
#include "update/sha256.h"
#include "web/release_record.h"

namespace muvra {

namespace {

namespace fs = std::filesystem;

// Until disarmed, closes the download file and deletes it on every way out.
class RemovalGuard {
 public:
  RemovalGuard(NewFile& file, fs::path path) : file_(file), path_(std::move(path)) {}
  ~RemovalGuard() {
    if (armed_) {
      file_.close();
      removeFileQuietly(path_);
    }
  }
  RemovalGuard(const RemovalGuard&) = delete;
  RemovalGuard& operator=(const RemovalGuard&) = delete;
  void disarm() { armed_ = false; }

 private:
  NewFile& file_;
  fs::path path_;
  bool armed_ = true;
};

std::string fetchReleaseDocument(const CancellationFlag& cancel) {
  std::string body;
  httpsGet(latestReleaseUrl(), kReleaseDocumentLimit, cancel,
           [&body](const std::uint8_t* data, std::uint32_t size) {
             body.append(reinterpret_cast<const char*>(data), size);
           });
  return body;
}

bool isProvenRelease(const fs::path& file, const ReleaseInfo& release) {
  const fs::file_status status = fs::status(file);
  if (!fs::exists(status)) {
    return false;
  }
  if (!fs::is_regular_file(status)) {
    const fs::path shown = (fs::path("app") / file.filename()).make_preferred();
    throw OperationFailure("Something other than a file is at " + pathToUtf8(shown) +
                           ". Remove it, then check for updates again.");
  }
  return fs::file_size(file) == release.size && sha256File(file) == release.sha256 &&
         isWindowsExecutable(file);
}

void download(const fs::path& applicationPath,
              const ReleaseInfo& release,
              LauncherState& state,
              const CancellationFlag& cancel,
              const CheckCheckpoint& checkpoint) {
  state.setPhase("downloading",
                 "Downloading your update. The previous installation is kept until verification.",
                 0);
  const fs::path temporary = temporaryDownloadPath(applicationPath);
  std::optional<NewFile> file = NewFile::create(temporary);
  if (!file) {
    throw OperationFailure("Could not open the update file. Check folder permissions.");
  }
  RemovalGuard guard(*file, temporary);

  std::uint64_t received = 0;
  httpsGet(release.downloadUrl, release.size, cancel,
           [&](const std::uint8_t* data, std::uint32_t size) {
             if (!file->write(data, size)) {
               throw OperationFailure("Could not save the update. Check disk space.");
             }
             received += size;
             state.update([&](nlohmann::json& document) {
               document["downloaded"] = received;
               document["progress"] = received * 95 / release.size;
             });
           });
  if (!file->flush()) {
    throw OperationFailure("Could not finish saving the update.");
  }
  file->close();
  if (received != release.size) {
    throw OperationFailure("The update size did not match the release.");
  }

  state.setPhase("verifying", "Verifying SHA-256 and the Windows executable...", 95);
  if (checkpoint) {
    checkpoint("verifying");
  }
  if (sha256File(temporary) != release.sha256 || !isWindowsExecutable(temporary)) {
    throw OperationFailure("The update failed integrity verification.");
  }
  if (cancel.isSet()) {
    throw OperationFailure("Update cancelled. The previous installation was kept.");
  }
  if (!replaceFile(temporary, applicationPath)) {
    throw OperationFailure("Close Muvra and retry. The update could not be installed.");
  }
  guard.disarm();
  if (checkpoint) {
    checkpoint("installed");
  }
}

// GitHub could not be reached: ends "ready" when the installed file still proves to be the
// release recorded by an earlier check, as it would against that release.
bool startRecordedRelease(const InstallLayout& layout,
                          LauncherState& state,
                          const fs::path& releaseRecord) {
  if (releaseRecord.empty()) {
    return false;
  }
  const std::optional<ReleaseInfo> recorded = readReleaseRecord(releaseRecord);
  try {
    if (!recorded || !isProvenRelease(layout.executablePath, *recorded)) {
      return false;
    }
  } catch (const std::exception&) {
    return false;  // the check's own failure stands
  }
  state.update([&](nlohmann::json& document) {
    document["latestVersion"] = recorded->tag;
    document["total"] = recorded->size;
    document["canLaunch"] = true;
  });
  state.setPhase("ready", offlineStartMessage(recorded->tag), 100);
  return true;
}

}  // namespace

fs::path temporaryDownloadPath(const fs::path& applicationPath) {
  return applicationPath.parent_path() / ("muvra-" + std::to_string(processId()) + "-" +
                                          std::to_string(tickMilliseconds()) + ".part");
}

void runCheck(const InstallLayout& layout,
              LauncherState& state,
              const CancellationFlag& cancel,
              const CheckOptions& options) {
  std::string body;
  try {
    body = fetchReleaseDocument(cancel);
  } catch (const OperationFailure& failure) {
    if (!options.offlineLaunch || cancel.isSet() || !allowsOfflineStart(failure.what()) ||
        !startRecordedRelease(layout, state, options.releaseRecord)) {
      throw;
    }
    return;
  }
  const ReleaseInfo release = parseRelease(releaseTextFromBody(body));
  state.update([&](nlohmann::json& document) {
    document["latestVersion"] = release.tag;
    document["total"] = release.size;
    document["downloaded"] = 0;
  });
  fs::create_directories(layout.executablePath.parent_path());
  if (!isProvenRelease(layout.executablePath, release)) {
    download(layout.executablePath, release, state, cancel, options.checkpoint);
  }
  if (cancel.isSet()) {
    throw OperationFailure("Update cancelled.");
  }
  if (!options.releaseRecord.empty()) {
    writeReleaseRecord(options.releaseRecord, release);
  }
  state.update([](nlohmann::json& document) { document["canLaunch"] = true; });
  state.setPhase("ready", "Your latest release is verified. Launch whenever you are ready.", 100);
}

void runLaunch(const InstallLayout& layout, LauncherState& state) {
  launchApplication(layout.executablePath, layout.settingsPath, layout.loaderFolder);
  state.setPhase("launched", "Muvra is open. You can close this launcher.", 100);
}

}  // namespace muvra
