#pragma once

// The stand-in's objects: the ones the host creates through the environment and the event
// arguments it is handed.

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "standin.h"

namespace standin {

struct View;

struct Environment : Node {
  Environment();
};

struct Controller : Node {
  Controller();
  void lastReleased() override;

  View* view = nullptr;  // the controller's own reference
  RECT bounds{};
};

struct Settings : Node {
  Settings();
  std::map<std::string, BOOL> values;
};

struct Request : Node {
  explicit Request(std::string address);
  std::string uri;
};

struct Response : Node {
  Response();
  void lastReleased() override { content = Ref(); }
  Ref content;
  int status = 0;
  std::string reason;
  std::string headers;
};

// The arguments of every event: one object whatever the event, with the interface of its event.
struct Arguments : Node {
  Arguments(const char* kind, const IID& iid, const void* table);
  void lastReleased() override;

  std::string uri;
  std::string source;
  std::string json;
  BOOL cancel = FALSE;
  BOOL handled = FALSE;
  BOOL success = FALSE;
  COREWEBVIEW2_WEB_ERROR_STATUS error = COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN;
  COREWEBVIEW2_PERMISSION_STATE state = COREWEBVIEW2_PERMISSION_STATE_DEFAULT;
  COREWEBVIEW2_PROCESS_FAILED_KIND failedKind =
      COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT context = COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL;
  Request* request = nullptr;  // its own reference
  Ref response;
};

// The events of a view, each with its own handler and argument interfaces.
enum class Event {
  NavigationStarting,
  NavigationCompleted,
  WebResourceRequested,
  WebMessageReceived,
  NewWindowRequested,
  PermissionRequested,
  ProcessFailed,
};

// New arguments of `event`; the caller holds their one reference.
Arguments& makeArguments(Event event);

// The page the view shows, as the tests' script plays it.
struct PageState {
  bool scriptStarted = false;
  std::size_t nextStep = 0;
  std::int32_t lastId = 0;
  std::map<std::int32_t, std::function<void(const nlohmann::json&)>> awaiting;
  std::string location;           // the address of the document shown, the source of its messages
  std::string document;           // the last document loaded
  std::string awaitedNavigation;  // the script goes on once this navigation has completed
};

struct View : Node {
  View();
  void lastReleased() override;
  void close();

  Controller* controller = nullptr;
  Settings* settings = nullptr;  // the view's own reference, made on first use
  std::map<Event, std::vector<Ref>> handlers;
  std::vector<std::pair<std::string, COREWEBVIEW2_WEB_RESOURCE_CONTEXT>> filters;
  bool closed = false;
  PageState page;
};

// Raises `event` on `view` to every handler, in the order they were added.
void raise(View& view, Event event, Arguments& arguments);

// The page's side: navigation, web messages, the automated tests' script.
void beginNavigation(View& view, const std::string& uri);
void pagePosted(View& view, const std::string& json);
void pageExecutes(View& view, const std::string& script);

}  // namespace standin
