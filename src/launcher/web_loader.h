#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "base/cancellation.h"
#include "launcher/launcher_state.h"
#include "launcher/launcher_window.h"
#include "update/install_layout.h"
#include "update/update_check.h"

namespace muvra {

// The launcher controller: owns the state document and the window, answers the page's launcher
// requests and runs at most one check or launch at a time on a worker thread.
class WebLoader {
 public:
  explicit WebLoader(std::unique_ptr<LauncherWindow> window);
  ~WebLoader();
  WebLoader(const WebLoader&) = delete;
  WebLoader& operator=(const WebLoader&) = delete;

  // Opens the window beside the running executable, or beside `layout`'s loader folder.
  bool create();
  bool create(const InstallLayout& layout);

  // The page's launcher methods; answers through the window or throws the refusal's sentence.
  void dispatch(std::int32_t id, const std::string& method, const nlohmann::json& params);
  // Accepts one check (false) or launch (true), or throws the refusal's sentence.
  void start(bool launch);
  // Asks the running operation to stop and waits for it.
  void shutdown();

  nlohmann::json state() const { return state_.snapshot(); }
  LauncherWindow& webWindow() { return *webWindow_; }
  // Test-only: see CheckCheckpoint.
  void setCheckCheckpoint(CheckCheckpoint checkpoint) {
    checkOptions_.checkpoint = std::move(checkpoint);
  }
  // Test-only: the release record and the offline start, which create() takes from the profile
  // root and the build's configuration.
  void setOfflineStart(std::filesystem::path releaseRecord, bool offlineLaunch) {
    checkOptions_.releaseRecord = std::move(releaseRecord);
    checkOptions_.offlineLaunch = offlineLaunch;
  }
  // Test-only: the publisher keys, which the build's configuration fixes.
  void setPublisherKeys(std::vector<std::string> pins) {
    checkOptions_.publisherKeys = std::move(pins);
  }
  // Test-only: the log of checks, which create() places beside the start-up log.
  void setCheckLog(std::filesystem::path checkLog) { checkOptions_.checkLog = std::move(checkLog); }

  bool preview = false;
  bool testMode = false;
  bool startupTest = false;
  CancellationFlag cancelFlag;

 private:
  void work(bool launch);
  std::string answerStateRequest();

  InstallLayout layout_;
  LauncherState state_;
  std::thread worker_;
  bool autoCheckStarted_ = false;
  bool closing_ = false;  // the window was closed: no operation starts any more
  std::unique_ptr<LauncherWindow> webWindow_;
  CheckOptions checkOptions_;
  // The release the last successful check proved; the worker alone touches it.
  std::optional<ReleaseInfo> provenRelease_;
};

}  // namespace muvra
