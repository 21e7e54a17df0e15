#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/cancellation.h"
#include "base/configuration.h"
#include "update/install_layout.h"
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
// that release download, prove and install it. Ends in "ready" or throws the failure's sentence;
// the installed file is only ever replaced by one move of a proven file.
void runCheck(const InstallLayout& layout,
              StateDocument& state,
              const CancellationFlag& cancel,
              const CheckOptions& options = {});

// Starts the installed application with its settings; ends in "launched" or throws.
void runLaunch(const InstallLayout& layout, StateDocument& state);

// "muvra-<process id>-<tick>.part" beside the installed file.
std::filesystem::path temporaryDownloadPath(const std::filesystem::path& applicationPath);

}  // namespace muvra
