#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace muvra {

// Answers one page request through the window's replyResult, or throws an OperationFailure.
using Dispatcher =
    std::function<void(std::int32_t id, const std::string& method, const nlohmann::json& params)>;

// What the launcher controller needs of its window and browser host.
class LauncherWindow {
 public:
  virtual ~LauncherWindow() = default;

  virtual void setOnClose(std::function<void()> onClose) = 0;
  virtual void setDispatcher(Dispatcher dispatcher) = 0;
  // Creates the window and starts the browser on the given embedded page.
  virtual bool open(const std::string& startPage) = 0;
  virtual void replyResult(std::int32_t id, const nlohmann::json& result) = 0;
  // The same for a result already in the page's wire form (serializeForPage).
  virtual void replySerializedResult(std::int32_t id, std::string_view result) = 0;
};

}  // namespace muvra
