#include "launcher/web_loader.h"

#include <exception>

#include "base/configuration.h"
#include "base/failure.h"
#include "base/process.h"
#include "base/text.h"
#include "base/worker_apartment.h"
#include "launcher/bridge.h"
#include "update/check_log.h"
#include "update/release_record.h"
#include "update/user_data_folder.h"

namespace muvra {

namespace {

constexpr const char* kPreviewRefusal = "This is an offline launcher preview.";

}  // namespace

WebLoader::WebLoader(std::unique_ptr<LauncherWindow> window) : webWindow_(std::move(window)) {}

WebLoader::~WebLoader() {
  shutdown();
}

bool WebLoader::create() {
  checkOptions_.offlineLaunch = config::OfflineLaunch;
  try {
    const std::filesystem::path root = profileRootFolder();
    checkOptions_.releaseRecord = releaseRecordPath(root, modulePath());
    checkOptions_.checkLog = checkLogPath(root, modulePath());
  } catch (const OperationFailure&) {
    // No profile root: the window says so; checks keep no record.
  }
  return create(locateInstallation());
}

bool WebLoader::create(const InstallLayout& layout) {
  layout_ = layout;
  webWindow_->setOnClose([this] {
    closing_ = true;
    cancelFlag.set();
  });
  webWindow_->setDispatcher([this](std::int32_t id, const std::string& method,
                                   const nlohmann::json& params) { dispatch(id, method, params); });
  return webWindow_->open("loader.html");
}

void WebLoader::dispatch(std::int32_t id, const std::string& method, const nlohmann::json&) {
  if (method == "get_loader_state") {
    webWindow_->replySerializedResult(
        id, preview ? serializeForPage(previewDocument()) : answerStateRequest());
  } else if (method == "check_update" || method == "launch_app") {
    if (preview) {
      throw OperationFailure(kPreviewRefusal);
    }
    start(method == "launch_app");
    webWindow_->replyResult(id, true);
  } else if (method == "cancel_update") {
    cancelFlag.set();
    webWindow_->replyResult(id, true);
  } else {
    throw OperationFailure("Unknown launcher action.");
  }
}

std::string WebLoader::answerStateRequest() {
  if (!autoCheckStarted_ && !closing_) {
    autoCheckStarted_ = true;
    start(false);
  }
  return state_.pageText();
}

void WebLoader::start(bool launch) {
  if (preview) {
    throw OperationFailure(kPreviewRefusal);
  }
  // Requests handled in the same drain as the close must not clear its cancellation.
  if (closing_) {
    throw OperationFailure("The launcher is closing.");
  }
  nlohmann::json before;
  state_.update([&](nlohmann::json& document) {
    if (document["busy"].get<bool>()) {
      throw OperationFailure("An operation is still running.");
    }
    if (launch && !document["canLaunch"].get<bool>()) {
      throw OperationFailure("Verify the latest release first.");
    }
    before = document;
  });
  if (worker_.joinable()) {
    worker_.join();
  }
  try {
    cancelFlag.clear();
    state_.update([&](nlohmann::json& document) {
      document["busy"] = true;
      if (!launch) {
        document["canLaunch"] = false;
      }
    });
    if (launch) {
      state_.setPhase("launching", "Opening Muvra with your saved settings...", 0);
    } else {
      state_.setPhase("checking", "Checking the latest stable release...", 0);
    }
    worker_ = std::thread([this, launch] { work(launch); });
  } catch (...) {
    // No operation runs: give the page back the state it had.
    state_.update([&](nlohmann::json& document) { document = before; });
    throw;
  }
}

void WebLoader::work(bool launch) {
  try {
    const WorkerApartment apartment;
    if (launch) {
      // Launching is permitted only after a check proved a release.
      if (!provenRelease_) {
        throw OperationFailure("Verify the latest release first.");
      }
      runLaunch(layout_, state_, *provenRelease_, checkOptions_);
    } else {
      provenRelease_ = runCheck(layout_, state_, cancelFlag, checkOptions_);
    }
  } catch (const PlatformError&) {
    state_.setPhase("error", "Windows could not read the GitHub release metadata.", 0);
  } catch (const std::exception& failure) {
    state_.setPhase(cancelFlag.isSet() ? "cancelled" : "error", sanitizeUtf8(failure.what()), 0);
  } catch (...) {
    state_.setPhase("error", "The operation could not finish. Please retry.", 0);
  }
  state_.update([](nlohmann::json& document) { document["busy"] = false; });
}

void WebLoader::shutdown() {
  cancelFlag.set();
  if (worker_.joinable()) {
    worker_.join();
  }
}

}  // namespace muvra
