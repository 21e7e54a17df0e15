#include "update/update_check.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <variant>

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

// The first proof a file fails against the release.
enum class ProofFailure { None, Size, Headers, Digest, Signature };

// The first proof a file fails, and what its one read found.
struct ReleaseProof {
  ProofFailure failure = ProofFailure::None;
  SignedFileProof file;
};

// Proves the file open as `file`, `size` bytes, to be the release: its size, headers and digest
// and, when the build pins publisher keys, the publisher's proof (signature and name), digest and
// signature from one read. Reads through the open file only.
ReleaseProof proveAgainst(std::istream& file,
                          std::uint64_t size,
                          const ReleaseInfo& release,
                          const std::vector<std::string>& publisherKeys) {
  if (size != release.size) {
    return {ProofFailure::Size, {}};
  }
  if (!isWindowsExecutable(file)) {
    return {ProofFailure::Headers, {}};
  }
  ReleaseProof proof{ProofFailure::None, proveSignedFile(file, size, publisherKeys)};
  if (proof.file.sha256 != release.sha256) {
    proof.failure = ProofFailure::Digest;
  } else if (!publisherKeys.empty() && !proof.file.signedByPublisher) {
    proof.failure = ProofFailure::Signature;
  }
  return proof;
}

// The proof a file failed, as the log of checks words it.
std::string_view proofFailureText(ProofFailure failure) {
  switch (failure) {
    case ProofFailure::Size:
      return "its size differs from the release";
    case ProofFailure::Headers:
      return "its headers are not those of a 64-bit Windows program";
    case ProofFailure::Digest:
      return "its SHA-256 differs from the release";
    case ProofFailure::Signature:
      return "it is not signed by the publisher";
    case ProofFailure::None:
      break;
  }
  return "it is the release";
}

// The installed file's proof when it is the release, proved through one handle held while it is
// read. Empty when it is not.
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
  if (fs::file_size(file) != release.size) {
    return std::nullopt;
  }
  const std::optional<HeldFile> held = HeldFile::open(file);
  if (!held) {
    return std::nullopt;  // an unreadable file is not the release: it is downloaded again
  }
  FileReadStream stream(*held);
  ReleaseProof proof = proveAgainst(stream, held->size(), release, publisherKeys);
  if (proof.failure != ProofFailure::None) {
    return std::nullopt;
  }
  return std::move(proof.file);
}

// Throws the sentence of the first proof the downloaded file, still open, fails; returns its proof.
SignedFileProof proveDownload(const NewFile& file,
                              const ReleaseInfo& release,
                              const std::vector<std::string>& publisherKeys) {
  FileReadStream stream(file);
  ReleaseProof proof = proveAgainst(stream, release.size, release, publisherKeys);
  switch (proof.failure) {
    case ProofFailure::None:
      return std::move(proof.file);
    case ProofFailure::Signature:
      throw OperationFailure(kNotSignedByPublisher);
    default:
      throw OperationFailure("The update failed integrity verification.");
  }
}

// A program the publisher's proof accepted: its signed file version, SHA-256 and size.
struct VerifiedProgram {
  FileVersion version;
  std::string sha256;
  std::uint64_t size = 0;
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
  const std::optional<HeldFile> held = HeldFile::open(file);
  if (!held) {
    return std::nullopt;
  }
  FileReadStream stream(*held);
  const SignedFileProof proof = proveSignedFile(stream, held->size(), publisherKeys);
  if (!proof.signedByPublisher) {
    return std::nullopt;
  }
  return VerifiedProgram{proof.versionResource->fileVersion, proof.sha256, held->size()};
}

// With publisher keys, versions only go forward: the floor is the installed program when it passes
// the publisher's proof and the version recorded with the last proven release. Empty when the
// proven download may be installed; the installed program, which stays and can start, when the
// download goes back from the floor; throws when it goes back and no verified program is
// installed.
std::optional<VerifiedProgram> keptForAnOlderRelease(const fs::path& applicationPath,
                                                     const SignedFileProof& download,
                                                     std::uint64_t downloadSize,
                                                     const CheckOptions& options) {
  if (options.publisherKeys.empty()) {
    return std::nullopt;
  }
  const VerifiedProgram release{download.versionResource->fileVersion, download.sha256,
                                downloadSize};
  std::vector<VerifiedProgram> floors;
  if (const std::optional<ReleaseRecord> record = readReleaseRecord(options.releaseRecord);
      record && record->fileVersion) {
    floors.push_back({*record->fileVersion, record->release.sha256, record->release.size});
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
    return std::nullopt;
  }
  const FileVersion floor = std::ranges::max(floors, {}, &VerifiedProgram::version).version;
  const char* const sentence = installed ? kOlderThanInstalled : kOlderThanVerified;
  logOlderRelease(options.checkLog, release.version.text(), floor.text(), sentence);
  if (!installed) {
    throw OperationFailure(sentence);
  }
  return installed;
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
// What a download leaves installed: the new file's proof, or the verified program that stays
// because the release goes back from it.
using Installed = std::variant<SignedFileProof, VerifiedProgram>;

// Downloads, proves and installs the release, unless it goes back from the verified program
// installed here.
Installed download(const fs::path& applicationPath,
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

  // The file stays open from its creation to its move: what is proved is what is installed.
  state.setPhase("verifying", "Verifying SHA-256 and the Windows executable...", 95);
  if (checkpoint) {
    checkpoint("verifying");
  }
  SignedFileProof proof = proveDownload(*file, release, options.publisherKeys);
  if (std::optional<VerifiedProgram> kept =
          keptForAnOlderRelease(applicationPath, proof, release.size, options)) {
    return *kept;  // the guard removes the download
  }
  if (cancel.isSet()) {
    throw OperationFailure("Update cancelled. The previous installation was kept.");
  }
  if (!file->moveOnto(applicationPath, cancel)) {
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
std::optional<ReleaseInfo> startRecordedRelease(const InstallLayout& layout,
                                                StateDocument& state,
                                                const CheckOptions& options) {
  const fs::path& releaseRecord = options.releaseRecord;
  if (releaseRecord.empty()) {
    return std::nullopt;
  }
  const std::optional<ReleaseRecord> record = readReleaseRecord(releaseRecord);
  const ReleaseInfo* const recorded = record ? &record->release : nullptr;
  try {
    if (!recorded || !provenRelease(layout.executablePath, *recorded, options.publisherKeys)) {
      return std::nullopt;
    }
  } catch (const std::exception&) {
    return std::nullopt;  // the check's own failure stands
  }
  state.update([&](nlohmann::json& document) {
    document["latestVersion"] = recorded->tag;
    document["total"] = recorded->size;
    document["canLaunch"] = true;
  });
  state.setPhase("ready", offlineStartMessage(recorded->tag), 100);
  return *recorded;
}

}  // namespace

fs::path temporaryDownloadPath(const fs::path& applicationPath) {
  return applicationPath.parent_path() / ("muvra-" + std::to_string(processId()) + "-" +
                                          std::to_string(tickMilliseconds()) + ".part");
}

ReleaseInfo runCheck(const InstallLayout& layout,
                     StateDocument& state,
                     const CancellationFlag& cancel,
                     const CheckOptions& options) {
  std::string body;
  try {
    body = fetchReleaseDocument(cancel, options.checkLog);
  } catch (const OperationFailure& failure) {
    std::optional<ReleaseInfo> recorded;
    if (!options.offlineLaunch || cancel.isSet() || !allowsOfflineStart(failure.what()) ||
        !(recorded = startRecordedRelease(layout, state, options))) {
      throw;
    }
    return *recorded;
  }
  const ReleaseInfo release = parseRelease(releaseTextFromBody(body));
  state.update([&](nlohmann::json& document) {
    document["latestVersion"] = release.tag;
    document["total"] = release.size;
    document["downloaded"] = 0;
  });
  fs::create_directories(layout.executablePath.parent_path());
  Installed installed = SignedFileProof();
  if (std::optional<SignedFileProof> proof =
          provenRelease(layout.executablePath, release, options.publisherKeys)) {
    installed = std::move(*proof);
  } else {
    installed = download(layout.executablePath, release, state, cancel, options);
  }
  if (cancel.isSet()) {
    throw OperationFailure("Update cancelled.");
  }
  state.update([](nlohmann::json& document) { document["canLaunch"] = true; });
  if (const VerifiedProgram* kept = std::get_if<VerifiedProgram>(&installed)) {
    state.setPhase("ready", kOlderThanInstalled, 100);
    // At launch the installed program is proved again to be what stayed.
    return {kept->version.text(), release.downloadUrl, kept->sha256, kept->size};
  }
  if (!options.releaseRecord.empty()) {
    // Only the publisher's proof reads the version, so builds without keys record none.
    const std::optional<VersionResource>& resource =
        std::get<SignedFileProof>(installed).versionResource;
    writeReleaseRecord(options.releaseRecord,
                       {release, resource ? std::optional(resource->fileVersion) : std::nullopt});
  }
  state.setPhase("ready", "Your latest release is verified. Launch whenever you are ready.", 100);
  return release;
}

void runLaunch(const InstallLayout& layout,
               StateDocument& state,
               const ReleaseInfo& release,
               const CheckOptions& options) {
  // Held from before the proof until the program has started: on Windows nobody can change it
  // in between.
  const std::optional<HeldFile> file = HeldFile::open(layout.executablePath);
  std::string_view refusal = "it cannot be opened";
  if (file) {
    FileReadStream stream(*file);
    try {
      const ProofFailure failure =
          proveAgainst(stream, file->size(), release, options.publisherKeys).failure;
      refusal = failure == ProofFailure::None ? std::string_view() : proofFailureText(failure);
    } catch (const OperationFailure&) {
      refusal = "it cannot be read";
    }
  }
  if (!refusal.empty()) {
    logLaunchRefusal(options.checkLog, release.tag, refusal);
    throw OperationFailure("Could not launch Muvra.");
  }
  launchApplication(layout.executablePath, layout.settingsPath, layout.loaderFolder);
  state.setPhase("launched", "Muvra is open. You can close this launcher.", 100);
}

}  // namespace muvra
