#include "launcher/bridge.h"

#include "base/failure.h"
#include "base/text.h"
#include "launcher/interface_files.h"

namespace muvra {

std::string serializeForPage(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
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

namespace {

// Every UTF-16 unit comes from at least one byte (an ill-formed one becomes one U+FFFD), so a
// text of no more bytes than the limit needs no counting.
bool withinMessageLimit(std::string_view text) {
  return text.size() <= kMaximumMessageUnits ||
         utf16Length(sanitizeUtf8(text)) <= kMaximumMessageUnits;
}

}  // namespace

void BridgeHost::onWebMessage(std::optional<std::string_view> source,
                              std::optional<std::string_view> text) {
  if (!source || !isAcceptedSender(*source) || !text || !withinMessageLimit(*text)) {
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
  static const nlohmann::json kNoParams = nlohmann::json::array();
  const auto found = request.find("params");
  const nlohmann::json& params = found != request.end() ? *found : kNoParams;
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
  replySerializedResult(id, serializeForPage(result));
}

void BridgeHost::replySerializedResult(std::int32_t id, std::string_view result) {
  // The members in name order, as the serialiser writes them.
  std::string reply = "{\"id\":" + std::to_string(id) + ",\"result\":";
  reply.append(result).push_back('}');
  window_.postToPage(reply);
}

void BridgeHost::replyError(std::int32_t id, const std::string& text) {
  window_.postToPage(serializeForPage({{"error", text}, {"id", id}}));
}

}  // namespace muvra
