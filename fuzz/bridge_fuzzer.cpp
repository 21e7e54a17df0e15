// One web message reaching the host half of the bridge: it is dropped, or answered exactly once
// with a reply the page can take, and never crashes the host.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/failure.h"
#include "launcher/bridge.h"
#include "launcher/interface_files.h"
#include "require.h"

namespace {

using fuzz::require;

// A request the page may send: an object with a positive 32-bit id and a method name, small
// enough for the message limit. Each such request gets exactly one reply.
bool isWellFormedRequest(const std::string& text) {
  if (text.size() > 4096) {
    return false;
  }
  const nlohmann::json message = nlohmann::json::parse(text, nullptr, false, false);
  if (!message.is_object() || !message.contains("method") || !message["method"].is_string()) {
    return false;
  }
  const auto id = message.find("id");
  return id != message.end() && id->is_number_integer() && id->get<std::int64_t>() >= 1 &&
         id->get<std::int64_t>() <= INT32_MAX;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool fromLoaderPage = input.ConsumeBool();
  const bool withSource = input.ConsumeBool();
  const bool withText = input.ConsumeBool();
  const int answer = input.ConsumeIntegralInRange(0, 2);
  std::optional<std::string> source;
  if (withSource) {
    source = fromLoaderPage ? muvra::interfaceOrigin() + "loader.html"
                            : input.ConsumeRandomLengthString(256);
  }
  std::optional<std::string> text;
  if (withText) {
    text = input.ConsumeRemainingBytesAsString();
  }

  int replies = 0;
  int actions = 0;
  muvra::BridgeHost* bridge = nullptr;
  muvra::BridgeHost host({[&](const nlohmann::json& value) {
                            ++replies;
                            require(value.is_object() && value.contains("id"));
                            require(value.contains("result") != value.contains("error"));
                            muvra::serializeForPage(value);
                          },
                          [&] { ++actions; }, [&] { ++actions; }, [&] { ++actions; }});
  bridge = &host;
  host.setDispatcher([&](std::int32_t id, const std::string& method, const nlohmann::json& params) {
    switch (answer) {
      case 0:
        bridge->replyResult(id, params);
        break;
      case 1:
        throw muvra::OperationFailure(method.empty() ? "Refused." : method);
      default:
        bridge->replyResult(id, method);  // may carry invalid UTF-8 from the message
        break;
    }
  });
  host.onWebMessage(source, text);
  require(replies <= 1);
  require(actions <= 1);
  if (source && muvra::isAcceptedSender(*source) && text && isWellFormedRequest(*text)) {
    require(replies == 1);
  }
  return 0;
}
