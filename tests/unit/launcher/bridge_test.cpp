#include "launcher/bridge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/failure.h"
#include "launcher/interface_files.h"
#include "support/case_name.h"

namespace muvra {
namespace {

using nlohmann::json;

// A host whose page and window only record what reaches them, in order.
class RecordingHost {
 public:
  RecordingHost()
      : bridge({[this](const std::string& text) {
                  if (!closing) {
                    events.push_back(text);
                  }
                },
                [this] { events.push_back("minimize"); },
                [this] {
                  events.push_back("close");
                  closing = true;
                },
                [this] { events.push_back("drag"); }}) {
    bridge.setDispatcher([this](std::int32_t id, const std::string& method, const json& params) {
      calls.push_back(std::to_string(id) + " " + method + " " + params.dump());
      if (method == "get_loader_state") {
        bridge.replyResult(id, {{"phase", "ready"}});
      } else if (method == "invalid_text") {
        bridge.replyResult(id, std::string("\xFF"));
      } else {
        throw OperationFailure("Unknown launcher action.");
      }
    });
  }

  void send(const std::string& text, const std::string& page = "loader.html") {
    bridge.onWebMessage(interfaceOrigin() + page, text);
  }

  BridgeHost bridge;
  std::vector<std::string> events;
  std::vector<std::string> calls;
  bool closing = false;
};

struct DroppedCase {
  const char* name;
  std::optional<std::string> source;  // relative to the interface origin
  std::optional<std::string> text;
};

MUVRA_PRINTS_CASE_NAME(DroppedCase)

class DroppedMessageTest : public ::testing::TestWithParam<DroppedCase> {};

TEST_P(DroppedMessageTest, GetsNoReplyAndHasNoEffect) {
  RecordingHost host;
  const DroppedCase& c = GetParam();
  host.bridge.onWebMessage(
      c.source ? std::optional(c.source->starts_with("//") ? c.source->substr(2)
                                                           : interfaceOrigin() + *c.source)
               : std::nullopt,
      c.text);
  EXPECT_TRUE(host.events.empty()) << host.events.front();
  EXPECT_TRUE(host.calls.empty());
}

const std::string kState = R"({"id":3,"method":"get_loader_state"})";

INSTANTIATE_TEST_SUITE_P(
    Drops,
    DroppedMessageTest,
    ::testing::Values(
        DroppedCase{"noSender", std::nullopt, kState},
        DroppedCase{"noText", "loader.html", std::nullopt},
        DroppedCase{"query", "loader.html?x=1", kState},
        DroppedCase{"fragment", "loader.html#top", kState},
        DroppedCase{"capitals", "Loader.html", kState},
        DroppedCase{"otherPage", "styles.css", kState},
        DroppedCase{"otherHost", "//https://example.com/loader.html", kState},
        DroppedCase{"notJson", "loader.html", "{\"id\":3,"},
        DroppedCase{"comment", "loader.html", "{\"id\":3,\"method\":\"minimize\"/*x*/}"},
        DroppedCase{"notAnObject", "loader.html", "[1]"},
        DroppedCase{"noId", "loader.html", R"({"method":"minimize"})"},
        DroppedCase{"idZero", "loader.html", R"({"id":0,"method":"minimize"})"},
        DroppedCase{"idNegative", "loader.html", R"({"id":-1,"method":"minimize"})"},
        DroppedCase{"idString", "loader.html", R"({"id":"5","method":"minimize"})"},
        DroppedCase{"idFraction", "loader.html", R"({"id":5.5,"method":"minimize"})"},
        DroppedCase{"idBoolean", "loader.html", R"({"id":true,"method":"minimize"})"},
        DroppedCase{"idZeroWithoutMethod", "loader.html", R"({"id":0})"},
        DroppedCase{"idWrapsNegative", "loader.html", R"({"id":4294967295,"method":"close"})"}),
    testing::CaseName());

struct ErrorCase {
  const char* name;
  std::string text;
  std::string error;  // empty: the JSON library's text
};

MUVRA_PRINTS_CASE_NAME(ErrorCase)

class ErrorReplyTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorReplyTest, AnswersWithTheSentence) {
  RecordingHost host;
  host.send(GetParam().text);
  ASSERT_EQ(host.events.size(), 1u);
  const json reply = json::parse(host.events[0]);
  EXPECT_EQ(reply["id"], 5);
  ASSERT_TRUE(reply["error"].is_string());
  if (GetParam().error.empty()) {
    EXPECT_FALSE(reply["error"].get<std::string>().empty());
  } else {
    EXPECT_EQ(reply["error"], GetParam().error);
  }
  EXPECT_EQ(reply.size(), 2u);
}

const std::string kInvalid = "Invalid desktop request.";

INSTANTIATE_TEST_SUITE_P(
    Errors,
    ErrorReplyTest,
    ::testing::Values(
        ErrorCase{"noMethod", R"({"id":5})", ""},
        ErrorCase{"methodNotString", R"({"id":5,"method":7})", ""},
        ErrorCase{"methodTooLong", R"({"id":5,"method":")" + std::string(65, 'm') + "\"}",
                  kInvalid},
        ErrorCase{"methodOf64Bytes", R"({"id":5,"method":")" + std::string(64, 'm') + "\"}",
                  "Unknown launcher action."},
        ErrorCase{"paramsObject", R"({"id":5,"method":"minimize","params":{}})", kInvalid},
        ErrorCase{"fourParams", R"({"id":5,"method":"minimize","params":[1,2,3,4]})", kInvalid},
        ErrorCase{"unknownMethod", R"({"id":5,"method":"format_disk"})",
                  "Unknown launcher action."},
        ErrorCase{"resultNotUtf8", R"({"id":5,"method":"invalid_text"})", ""}),
    testing::CaseName());

TEST(BridgeHostTest, WireFormIsCompactAndSorted) {
  RecordingHost host;
  host.send(R"({"id":4,"method":"nothing"})");
  host.send(R"({"id":4294967300,"method":"get_loader_state"})");
  EXPECT_EQ(host.events, (std::vector<std::string>{R"({"error":"Unknown launcher action.","id":4})",
                                                   R"({"id":4,"result":{"phase":"ready"}})"}));
  EXPECT_EQ(serializeForPage({{"b", "\xC3\xA9"}, {"a", 1}}), "{\"a\":1,\"b\":\"\xC3\xA9\"}");
  EXPECT_THROW(serializeForPage(std::string("\xC3")), std::exception);
}

TEST(BridgeHostTest, ParamsReachTheDispatcherUnchanged) {
  RecordingHost host;
  host.send(R"({"id":1,"method":"x","params":[1,"a",null]})");
  host.send(R"({"id":2,"method":"x"})");
  host.send(R"({"id":3,"method":"x","params":[]})", "index.html");
  EXPECT_EQ(host.calls, (std::vector<std::string>{R"(1 x [1,"a",null])", "2 x []", "3 x []"}));
}

TEST(BridgeHostTest, WindowActionsInTheirOrder) {
  RecordingHost host;
  host.send(R"({"id":1,"method":"minimize","params":[9]})");
  host.send(R"({"id":2,"method":"drag_window"})");
  host.send(R"({"id":3,"method":"close"})");
  host.send(R"({"id":4,"method":"get_loader_state"})");
  EXPECT_EQ(host.events, (std::vector<std::string>{"minimize", R"({"id":1,"result":true})",
                                                   R"({"id":2,"result":true})", "drag",
                                                   R"({"id":3,"result":true})", "close"}));
  EXPECT_TRUE(host.calls.size() == 1u) << "requests after closing still reach the dispatcher";
}

TEST(BridgeHostTest, WithoutDispatcherOtherMethodsAreUnknownDesktopActions) {
  RecordingHost host;
  host.bridge.setDispatcher({});
  host.send(R"({"id":8,"method":"get_loader_state"})");
  EXPECT_EQ(host.events,
            (std::vector<std::string>{R"({"error":"Unknown desktop action.","id":8})"}));
}

TEST(BridgeHostTest, LengthLimitCountsUtf16Units) {
  // {"id":1,"method":"x","params":["..."]} padded to an exact number of UTF-16 units; each
  // U+00E9 is two UTF-8 bytes but one unit, each U+1F600 four bytes and two units.
  const auto message = [](std::size_t units) {
    const std::string head = R"({"id":1,"method":"x","params":[")";
    const std::string tail = "\"]}";
    std::string padding;
    std::size_t left = units - head.size() - tail.size();
    while (left >= 2) {
      padding += "\xF0\x9F\x98\x80";
      left -= 2;
    }
    if (left == 1) {
      padding += "\xC3\xA9";
    }
    return head + padding + tail;
  };
  RecordingHost host;
  host.send(message(kMaximumMessageUnits));
  EXPECT_EQ(host.calls.size(), 1u);
  host.send(message(kMaximumMessageUnits + 1));
  EXPECT_EQ(host.calls.size(), 1u);
}

}  // namespace
}  // namespace muvra
