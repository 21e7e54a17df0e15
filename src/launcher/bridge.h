#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "launcher/launcher_window.h"

namespace muvra {

inline constexpr std::size_t kMaximumMessageUnits = 16384;
inline constexpr std::size_t kMaximumMethodBytes = 64;
inline constexpr std::size_t kMaximumParams = 3;

// The compact wire form of a value for the page, in UTF-8: sorted members, non-ASCII characters
// unescaped; a string that is not valid UTF-8 fails with the JSON library's text.
std::string serializeForPage(const nlohmann::json& value);

// The host half of the desktop bridge, shared by both browser hosts. The host supplies how a
// reply, already in its wire form, reaches the page and the three window actions.
class BridgeHost {
 public:
  struct Window {
    // Posts one reply's wire form (UTF-8) to the page; does nothing once the view is gone or the
    // window is closing.
    std::function<void(const std::string& text)> postToPage;
    std::function<void()> minimize;
    std::function<void()> close;
    std::function<void()> beginDrag;
  };

  explicit BridgeHost(Window window) : window_(std::move(window)) {}

  void setDispatcher(Dispatcher dispatcher) { dispatcher_ = std::move(dispatcher); }
  const Dispatcher& dispatcher() const { return dispatcher_; }

  // One web message: its sender's address and its JSON text (UTF-8), either absent when the
  // browser view could not deliver it. Drops it, or answers it exactly once.
  void onWebMessage(std::optional<std::string_view> source, std::optional<std::string_view> text);

  void replyResult(std::int32_t id, const nlohmann::json& result);
  // The same reply for a result already in its wire form (serializeForPage).
  void replySerializedResult(std::int32_t id, std::string_view result);
  void replyError(std::int32_t id, const std::string& text);

 private:
  void handleRequest(std::int32_t id, const nlohmann::json& request);
  void answerFailure(std::int32_t id, const std::string& text);

  Window window_;
  Dispatcher dispatcher_;
};

// Whether a message from `source` may be taken: only the two interface pages, exactly.
bool isAcceptedSender(std::string_view source);

// The request id: the low 32 bits, signed, of an integer "id" member of an object.
std::optional<std::int32_t> requestId(const nlohmann::json& message);

}  // namespace muvra
