#include "update/update_check.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "base/failure.h"
#include "base/path_text.h"
#include "base/process.h"
#include "net/download_resume.h"
#include "net/https_client.h"
#include "proof/executable_check.h"
#include "proof/publisher_signature.h"
#include "proof/sha256.h"
#include "update/check_log.h"
#include "update/files.h"
#include "update/launch.h"
#include "update/release.h"
#include "update/release_record.h"

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

std::string fetchReleaseDocument(const CancellationFlag& cancel, const fs::path& checkLog) {
  std::string body;
  httpsGet(
      latestReleaseUrl(), kReleaseDocumentLimit, cancel,
      [&body](const std::uint8_t* data, std::uint32_t size) {
        body.append(reinterpret_cast<const char*>(data), size);
      },
      {}, [&checkLog](const AnswerFacts& answer) { logRefusal(checkLog, answer); });
  return body;
}

// The file's SHA-256 and, when the build pins publisher keys, whether one of them signed it (both
// from one read); without keys no signature is asked for.
SignedFileProof proveFile(const fs::path& file, const std::vector<std::string>& publisherKeys) {
  if (publisherKeys.empty()) {
    return {sha256File(file), true, std::nullopt};
  }
  return proveSignedFile(file, publisherKeys);
}

// The file's proof when it is the release: its size, digest and headers and, when the build pins
// publisher keys, the publisher's proof (signature and name). Empty when it is not.
std::optional<SignedFileProof> provenRelease(const fs::path& file,
                                             const ReleaseInfo& release,
                                             const std::vector<std::string>& publisherKeys) {
  const fs::file_status status = fs::status(file);
  if (!fs::exists(status)) {
    return std::nullopt;
  }
  if (!fs::is_regular_file(status)) {
    const fs::path shown = (fs::path("app") / file.filename()).make_preferred();
    throw OperationFailure("Something other than a file is at " + pathToUtf8(shown) +
                           ". Remove it, then check for updates again.");
  }
  if (fs::file_size(file) != release.size || !isWindowsExecutable(file)) {
    return std::nullopt;
  }
  SignedFileProof proof = proveFile(file, publisherKeys);
  if (proof.sha256 != release.sha256 || !proof.signedByPublisher) {
    return std::nullopt;
  }
  return proof;
}

// Throws the sentence of the first proof the downloaded file fails; returns the proof.
SignedFileProof proveDownload(const fs::path& file,
                              const ReleaseInfo& release,
                              const std::vector<std::string>& publisherKeys) {
  const char* const kIntegrityFailure = "The update failed integrity verification.";
  if (!isWindowsExecutable(file)) {
    throw OperationFailure(kIntegrityFailure);
  }
  SignedFileProof proof = proveFile(file, publisherKeys);
  if (proof.sha256 != release.sha256) {
    throw OperationFailure(kIntegrityFailure);
  }
  if (!proof.signedByPublisher) {
    throw OperationFailure(kNotSignedByPublisher);
  }
  return proof;
}

// A program the publisher's proof accepted: its signed file version and its SHA-256.
struct VerifiedProgram {
  FileVersion version;
  std::string sha256;
};

// Whether `release` goes back from `verified`: below its version, or at it with other bytes.
bool goesBack(const VerifiedProgram& release, const VerifiedProgram& verified) {
  return release.version < verified.version ||
         (release.version == verified.version && release.sha256 != verified.sha256);
}

// The installed program, when it passes the publisher's proof.
std::optional<VerifiedProgram> verifiedInstallation(const fs::path& file,
                                                    const std::vector<std::string>& publisherKeys) {
  if (!fs::is_regular_file(file)) {
    return std::nullopt;
  }
  const SignedFileProof proof = proveSignedFile(file, publisherKeys);
  if (!proof.signedByPublisher) {
    return std::nullopt;
  }
  return VerifiedProgram{proof.versionResource->fileVersion, proof.sha256};
}

// With publisher keys, versions only go forward: the floor is the installed program when it passes
// the publisher's proof and the version recorded with the last proven release. True when the
// proven download may be installed; false when it goes back and the installed program can start;
// throws when it goes back and no verified program is installed.
bool goesForward(const fs::path& applicationPath,
                 const SignedFileProof& download,
                 const CheckOptions& options) {
  if (options.publisherKeys.empty()) {
    return true;
  }
  const VerifiedProgram release{download.versionResource->fileVersion, download.sha256};
  std::vector<VerifiedProgram> floors;
  if (const std::optional<ReleaseRecord> record = readReleaseRecord(options.releaseRecord);
      record && record->fileVersion) {
    floors.push_back({*record->fileVersion, record->release.sha256});
  }
  const auto goesBackFrom = [&](const VerifiedProgram& floor) { return goesBack(release, floor); };
  const bool recordRefuses = std::ranges::any_of(floors, goesBackFrom);
  // What the installed file's resource claims spares its proof when it could not refuse.
  const std::optional<VersionResource> claimed = readVersionResource(applicationPath);
  std::optional<VerifiedProgram> installed;
  if (recordRefuses || (claimed && claimed->fileVersion >= release.version)) {
    installed = verifiedInstallation(applicationPath, options.publisherKeys);
  }
  if (installed) {
    floors.push_back(*installed);
  }
  if (!std::ranges::any_of(floors, goesBackFrom)) {
    return true;
  }
  const FileVersion floor = std::ranges::max(floors, {}, &VerifiedProgram::version).version;
  const char* const sentence = installed ? kOlderThanInstalled : kOlderThanVerified;
  logOlderRelease(options.checkLog, release.version.text(), floor.text(), sentence);
  if (!installed) {
    throw OperationFailure(sentence);
  }
  return false;
}

const char* const kSaveFailure = "Could not save the update. Check disk space.";

// Waits before a resumption; cancellation cuts the wait short.
void waitToResume(int attempt, const CancellationFlag& cancel) {
  const auto until = std::chrono::steady_clock::now() + resumeDelay(attempt);
  while (std::chrono::steady_clock::now() < until) {
    if (cancel.isSet()) {
      throw OperationFailure("Cancelled.");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Downloads the asset into `file`, reporting the bytes it holds after each block. An answer that
// breaks off after some bytes (dropped, silent or short) is asked again for the rest, at most
// kMostResumptions times; when that cannot go on, the first break's sentence ends the check.
void fetchAsset(const ReleaseInfo& release,
                NewFile& file,
                const CancellationFlag& cancel,
                const std::function<void(std::uint64_t received)>& progress) {
  std::uint64_t have = 0;
  std::optional<std::string> validator;
  std::string firstBreak;
  // Each answer may carry the whole asset (a 200 starts over), never more than it lacks.
  const ChunkSink sink = [&](const std::uint8_t* data, std::uint32_t size) {
    if (size > release.size - have) {
      throw OperationFailure("The response exceeded the allowed size.");
    }
    if (!file.write(data, size)) {
      throw OperationFailure(kSaveFailure);
    }
    have += size;
    progress(have);
  };
  for (int attempt = 0;; ++attempt) {
    const RangeRequest range{have, attempt == 0 ? std::string() : *validator};
    bool refused = false;
    const AnswerCheck check = [&](const AnswerFacts& answer) {
      if (attempt == 0) {
        validator = resumeValidator(answer);
        return;
      }
      if (!isAcceptedStatus(answer.status, range)) {
        refused = true;
        return;  // the client ends the call with its sentence
      }
      const ResumeVerdict verdict = judgeResumeAnswer(answer, have, release.size, *validator);
      refused = verdict == ResumeVerdict::Refuse;
      if (refused) {
        throw OperationFailure(firstBreak);
      }
      if (verdict == ResumeVerdict::StartOver) {
        if (!file.truncate()) {
          throw OperationFailure(kSaveFailure);
        }
        have = 0;
      }
    };
    try {
      httpsGet(release.downloadUrl, release.size, cancel, sink, range, check);
      if (have == release.size) {
        return;
      }
      if (firstBreak.empty()) {
        firstBreak = "The update size did not match the release.";
      }
    } catch (const OperationFailure& failure) {
      const std::string_view sentence = failure.what();
      const bool broken =
          sentence == kDownloadInterrupted || (attempt > 0 && sentence == kCannotReachGitHub);
      if (!broken || refused || cancel.isSet()) {
        throw OperationFailure(attempt > 0 && refused ? firstBreak : std::string(sentence));
      }
      if (firstBreak.empty()) {
        firstBreak = sentence;
      }
    }
    if (!validator || (attempt == 0 && have == 0) || attempt == kMostResumptions) {
      throw OperationFailure(firstBreak);
    }
    waitToResume(attempt + 1, cancel);
  }
}

// Downloads, proves and installs the release; returns the installed file's proof. Empty when the
// release goes back from the verified program installed here, which stays.
std::optional<SignedFileProof> download(const fs::path& applicationPath,
                                        const ReleaseInfo& release,
                                        StateDocument& state,
                                        const CancellationFlag& cancel,
                                        const CheckOptions& options) {
  const CheckCheckpoint& checkpoint = options.checkpoint;
  state.setPhase("downloading",
                 "Downloading your update. The previous installation is kept until verification.",
                 0);
  const fs::path temporary = temporaryDownloadPath(applicationPath);
  std::optional<NewFile> file = NewFile::create(temporary);
  if (!file) {
    throw OperationFailure("Could not open the update file. Check folder permissions.");
  }
  RemovalGuard guard(*file, temporary);

  std::uint64_t shown = 0;  // the progress bar never goes back, also when a download starts over
  fetchAsset(release, *file, cancel, [&](std::uint64_t received) {
    shown = std::max(shown, received);
    state.update([&](nlohmann::json& document) {
      document["downloaded"] = shown;
      document["progress"] = shown * 95 / release.size;
    });
  });
  if (!file->flush()) {
    throw OperationFailure("Could not finish saving the update.");
  }
  file->close();

  state.setPhase("verifying", "Verifying SHA-256 and the Windows executable...", 95);
  if (checkpoint) {
    checkpoint("verifying");
  }
  SignedFileProof proof = proveDownload(temporary, release, options.publisherKeys);
  if (!goesForward(applicationPath, proof, options)) {
    return std::nullopt;  // the guard removes the download
  }
  if (cancel.isSet()) {
    throw OperationFailure("Update cancelled. The previous installation was kept.");
  }
  if (!replaceFile(temporary, applicationPath, cancel)) {
    if (cancel.isSet()) {
      throw OperationFailure("Update cancelled. The previous installation was kept.");
    }
    throw OperationFailure("Close Muvra and retry. The update could not be installed.");
  }
  guard.disarm();
  if (checkpoint) {
    checkpoint("installed");
  }
  return proof;
}

// GitHub could not be reached: ends "ready" when the installed file still proves to be the
// release recorded by an earlier check, as it would against that release.
bool startRecordedRelease(const InstallLayout& layout,
                          StateDocument& state,
                          const CheckOptions& options) {
  const fs::path& releaseRecord = options.releaseRecord;
  if (releaseRecord.empty()) {
    return false;
  }
  const std::optional<ReleaseRecord> record = readReleaseRecord(releaseRecord);
  const ReleaseInfo* const recorded = record ? &record->release : nullptr;
  try {
    if (!recorded || !provenRelease(layout.executablePath, *recorded, options.publisherKeys)) {
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
              StateDocument& state,
              const CancellationFlag& cancel,
              const CheckOptions& options) {
  std::string body;
  try {
    body = fetchReleaseDocument(cancel, options.checkLog);
  } catch (const OperationFailure& failure) {
    if (!options.offlineLaunch || cancel.isSet() || !allowsOfflineStart(failure.what()) ||
        !startRecordedRelease(layout, state, options)) {
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
  std::optional<SignedFileProof> installed =
      provenRelease(layout.executablePath, release, options.publisherKeys);
  if (!installed) {
    installed = download(layout.executablePath, release, state, cancel, options);
  }
  if (cancel.isSet()) {
    throw OperationFailure("Update cancelled.");
  }
  if (installed && !options.releaseRecord.empty()) {
    // Only the publisher's proof reads the version, so builds without keys record none.
    const std::optional<VersionResource>& resource = installed->versionResource;
    writeReleaseRecord(options.releaseRecord,
                       {release, resource ? std::optional(resource->fileVersion) : std::nullopt});
  }
  state.update([](nlohmann::json& document) { document["canLaunch"] = true; });
  state.setPhase("ready",
                 installed ? "Your latest release is verified. Launch whenever you are ready."
                           : kOlderThanInstalled,
                 100);
}

void runLaunch(const InstallLayout& layout, StateDocument& state) {
  launchApplication(layout.executablePath, layout.settingsPath, layout.loaderFolder);
  state.setPhase("launched", "Muvra is open. You can close this launcher.", 100);
}

}  // namespace muvra
