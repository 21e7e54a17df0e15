#include "web/bridge.h"

#include "base/failure.h"
#include "base/text.h"
#include "web/interface_files.h"

namespace muvra {

std::string serializeForPageUtf8(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

std::u16string serializeForPage(const nlohmann::json& value) {
  return utf8ToUtf16(serializeForPageUtf8(value));
}

bool isAcceptedSender(std::string_view source) {
  return isAllowedNavigation(source);
}

std::optional<std::int32_t> requestId(const nlohmann::json& message) {
  if (!message.is_object()) {
    return std::nullopt;
  }
  const auto id = message.find("id");
  if (id == message.end() || !id->is_number_integer()) {
    return std::nullopt;
  }
  const auto bits = id->is_number_unsigned() ? id->get<std::uint64_t>()
                                             : static_cast<std::uint64_t>(id->get<std::int64_t>());
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
}

void BridgeHost::onWebMessage(const std::optional<std::string>& source,
                              const std::optional<std::string>& text) {
  if (!source || !isAcceptedSender(*source) || !text ||
      utf16Length(sanitizeUtf8(*text)) > kMaximumMessageUnits) {
    return;
  }
  const nlohmann::json message = nlohmann::json::parse(*text, nullptr, false, false);
  const std::optional<std::int32_t> id = requestId(message);
  if (message.is_discarded() || !id) {
    return;
  }
  try {
    handleRequest(*id, message);
  } catch (const std::exception& failure) {
    answerFailure(*id, failure.what());
  } catch (...) {
    answerFailure(*id, "The operation could not finish. Please retry.");
  }
}

void BridgeHost::answerFailure(std::int32_t id, const std::string& text) {
  if (id < 1) {
    return;
  }
  try {
    replyError(id, text);
  } catch (const std::exception&) {
    // Not even the error can be posted; the page's call times out.
  }
}

void BridgeHost::handleRequest(std::int32_t id, const nlohmann::json& request) {
  const std::string method = request.at("method").get<std::string>();
  const auto found = request.find("params");
  const nlohmann::json params = found != request.end() ? *found : nlohmann::json::array();
  if (id < 1) {
    return;
  }
  if (method.size() > kMaximumMethodBytes || !params.is_array() || params.size() > kMaximumParams) {
    throw OperationFailure("Invalid desktop request.");
  }
  if (method == "minimize") {
    window_.minimize();
    replyResult(id, true);
  } else if (method == "close") {
    replyResult(id, true);
    window_.close();
  } else if (method == "drag_window") {
    replyResult(id, true);
    window_.beginDrag();
  } else if (dispatcher_) {
    dispatcher_(id, method, params);
  } else {
    throw OperationFailure("Unknown desktop action.");
  }
}

void BridgeHost::replyResult(std::int32_t id, const nlohmann::json& result) {
  window_.postToPage({{"id", id}, {"result", result}});
}

void BridgeHost::replyError(std::int32_t id, const std::string& text) {
  window_.postToPage({{"error", text}, {"id", id}});
}

}  // namespace muvra
