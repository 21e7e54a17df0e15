#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/cancellation.h"
#include "base/configuration.h"
#include "update/install_layout.h"
#include "update/release.h"
#include "update/state_document.h"

namespace muvra {

// Called on the worker at "verifying" (before the proofs of a download) and at "installed"
// (right after the move). Tests use it to cancel at an exact point; the launcher sets none.
using CheckCheckpoint = std::function<void(std::string_view point)>;

struct CheckOptions {
  // Where the release each successful check proved is recorded; empty: nowhere.
  std::filesystem::path releaseRecord;
  // Whether a check that cannot reach GitHub may end "ready" with the recorded release, when the
  // installed file still proves to be it (the publisher's choice, set when the build is
  // configured).
  bool offlineLaunch = false;
  // Where GitHub's refusals (403, 429) are logged with the reset time it sent; empty: nowhere.
  std::filesystem::path checkLog;
  CheckCheckpoint checkpoint;
  // The pins of the keys that must sign the installed file; none: the digest and headers prove it.
  std::vector<std::string> publisherKeys{config::PublisherKeys.begin(),
                                         config::PublisherKeys.end()};
};

inline constexpr const char* kOlderThanInstalled =
    "The release on GitHub is older than the verified Muvra on this computer, which can start.";
inline constexpr const char* kOlderThanVerified =
    "The update is older than the version of Muvra this computer has already verified. Your "
    "previous installation was kept.";

// The update transaction: fetch the latest release, prove the installed file, and when it is not
// that release download, prove and install it. Ends in "ready" and returns the release the
// installed file was proved to be, or throws the failure's sentence; the installed file is only
// ever replaced by one move of a proven file.
ReleaseInfo runCheck(const InstallLayout& layout,
                     StateDocument& state,
                     const CancellationFlag& cancel,
                     const CheckOptions& options = {});

// Proves the installed file again to be `release` (the same proofs as the check, keys included)
// and starts it with its settings while it is held open; ends in "launched" or throws. A file
// that fails a proof is not started: "Could not launch Muvra.", and the log of checks says why.
void runLaunch(const InstallLayout& layout,
               StateDocument& state,
               const ReleaseInfo& release,
               const CheckOptions& options);

// "muvra-<process id>-<tick>.part" beside the installed file.
std::filesystem::path temporaryDownloadPath(const std::filesystem::path& applicationPath);

}  // namespace muvra
