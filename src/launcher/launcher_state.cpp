#include "launcher/launcher_state.h"

#include "launcher/bridge.h"
#include "base/configuration.h"

namespace muvra {

LauncherState::LauncherState()
    : document_({{"phase", "idle"},
                 {"message", "Check for the latest verified Muvra release."},
                 {"latestVersion", ""},
                 {"progress", 0},
                 {"downloaded", 0},
                 {"total", 0},
                 {"canLaunch", false},
                 {"busy", false}}) {}

void LauncherState::setPhase(const std::string& phase,
                             const std::string& message,
                             std::int32_t progress) {
  const std::lock_guard guard(lock_);
  pageText_.reset();
  document_["phase"] = phase;
  document_["message"] = message;
  document_["progress"] = progress;
}

void LauncherState::update(const std::function<void(nlohmann::json&)>& change) {
  const std::lock_guard guard(lock_);
  pageText_.reset();
  change(document_);
}

nlohmann::json LauncherState::snapshot() const {
  const std::lock_guard guard(lock_);
  return document_;
}

std::string LauncherState::pageText() const {
  const std::lock_guard guard(lock_);
  if (!pageText_) {
    pageText_ = serializeForPage(withLoaderVersion(document_));
  }
  return *pageText_;
}

nlohmann::json withLoaderVersion(nlohmann::json state) {
  state["loaderVersion"] = std::string(config::LauncherVersion);
  return state;
}

nlohmann::json previewDocument() {
  return withLoaderVersion(
      {{"phase", "ready"},
       {"message", "This is an interface preview: downloads and launching are disabled."},
       {"latestVersion", "Preview"},
       {"progress", 100},
       {"downloaded", 0},
       {"total", 0},
       {"canLaunch", false},
       {"busy", false}});
}

}  // namespace muvra
