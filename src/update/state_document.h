#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

namespace muvra {

// The document the update transaction writes its progress and outcome into; the launcher's state
// implements it.
class StateDocument {
 public:
  // Writes "phase", "message" and "progress", in that order.
  virtual void setPhase(const std::string& phase,
                        const std::string& message,
                        std::int32_t progress) = 0;
  // Runs `change` on the document; keep it to a few member writes.
  virtual void update(const std::function<void(nlohmann::json&)>& change) = 0;

 protected:
  ~StateDocument() = default;
};

}  // namespace muvra
