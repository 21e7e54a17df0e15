#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "update/state_document.h"

namespace muvra {

// The launcher state document the page draws from, behind one lock held only for member writes.
class LauncherState final : public StateDocument {
 public:
  LauncherState();

  void setPhase(const std::string& phase,
                const std::string& message,
                std::int32_t progress) override;
  // Runs `change` on the document under the lock.
  void update(const std::function<void(nlohmann::json&)>& change) override;
  nlohmann::json snapshot() const;
  // The document the page receives (withLoaderVersion) in its wire form, written once per change:
  // the page asks for it every 350 ms while it rarely changes.
  std::string pageText() const;

 private:
  mutable std::mutex lock_;
  nlohmann::json document_;
  mutable std::optional<std::string> pageText_;  // cleared by every write
};

// The document the page receives: the state plus the launcher's own version.
nlohmann::json withLoaderVersion(nlohmann::json state);

// The fixed answer of the offline interface preview.
nlohmann::json previewDocument();

}  // namespace muvra
