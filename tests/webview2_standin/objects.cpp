// The environment, controller, view, settings, requests, responses and event arguments.

#include "objects.h"

#include <cstdlib>

namespace standin {

namespace {

std::string boolText(BOOL value) {
  return value ? "TRUE" : "FALSE";
}

const char* contextName(COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) {
  switch (context) {
    case COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL:
      return "ALL";
    case COREWEBVIEW2_WEB_RESOURCE_CONTEXT_DOCUMENT:
      return "DOCUMENT";
    case COREWEBVIEW2_WEB_RESOURCE_CONTEXT_STYLESHEET:
      return "STYLESHEET";
    case COREWEBVIEW2_WEB_RESOURCE_CONTEXT_IMAGE:
      return "IMAGE";
    case COREWEBVIEW2_WEB_RESOURCE_CONTEXT_SCRIPT:
      return "SCRIPT";
    default:
      return "OTHER";
  }
}

// A failure the script injects: "environment-fails 0x80070005 first" (or "always").
HRESULT injectedFailure(const std::string& name, unsigned attempt) {
  const std::string value = directive(name);
  if (value.empty()) {
    return S_OK;
  }
  const bool always = value.ends_with(" always");
  return always || attempt == 0 ? static_cast<HRESULT>(std::strtoul(value.c_str(), nullptr, 16))
                                : S_OK;
}

// The value of one of the runtime's environment variables, which take precedence over what the
// host passes; `passed` when the variable is not set.
std::string overriddenBy(const wchar_t* variable, const std::string& passed) {
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(variable, value, 32768);
  return length > 0 && length < 32768 ? narrow(value) : passed;
}

// Completes a creation later, as the runtime does, holding `handler` until then: with the
// failure the script injects for this attempt, or with a new object whose reference the handler
// is lent for the call.
template <typename Interface, typename Handler>
HRESULT completeCreation(Handler* handler,
                         const std::string& kind,
                         unsigned& attempt,
                         std::function<Node&()> create) {
  if (handler == nullptr) {
    return E_POINTER;
  }
  // "environment-pending first" (or "always"): the creation returns S_OK and never completes,
  // as after a broken runtime update; the handler is held for good.
  const std::string pending = directive(kind + "-pending");
  if (pending == "always" || (pending == "first" && attempt == 0)) {
    ++attempt;
    note(kind + " pending");
    static auto* const heldForGood = new std::vector<Ref>();
    heldForGood->emplace_back(handler);
    return S_OK;
  }
  // "controller-late first": the first creation completes only when the next one is asked for,
  // that is after the host gave it up, as a runtime that takes longer than the host waits.
  static auto* const late = new std::map<std::string, std::function<void()>>();
  if (const auto waiting = late->find(kind); waiting != late->end()) {
    later(std::move(waiting->second));
    late->erase(waiting);
  }
  if (directive(kind + "-late") == "first" && attempt == 0) {
    ++attempt;
    note(kind + " late");
    (*late)[kind] = [held = Ref(handler), kind, create] {
      Node& made = create();
      note(kind + " created late");
      auto* completed = held.get<Handler>();
      completed->lpVtbl->Invoke(completed, S_OK, made.as<Interface>());
      release(made);
    };
    return S_OK;
  }
  const HRESULT failure = injectedFailure(kind + "-fails", attempt++);
  later([held = Ref(handler), failure, kind, create] {
    auto* completed = held.get<Handler>();
    if (FAILED(failure)) {
      note(kind + " created " + hexCode(failure));
      completed->lpVtbl->Invoke(completed, failure, nullptr);
      return;
    }
    Node& made = create();
    note(kind + " created");
    completed->lpVtbl->Invoke(completed, S_OK, made.as<Interface>());
    release(made);
  });
  return S_OK;
}

// ---- Environment -------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE
createController(ICoreWebView2Environment*,
                 HWND parent,
                 ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) {
  static unsigned attempt = 0;
  note("environment.CreateCoreWebView2Controller parent=" +
       std::string(IsWindow(parent) ? "window" : "none"));
  return completeCreation<ICoreWebView2Controller>(handler, "controller", attempt, []() -> Node& {
    Controller& controller = make<Controller>();
    controller.view = &make<View>();
    controller.view->controller = &controller;
    return controller;
  });
}

HRESULT STDMETHODCALLTYPE createResponse(ICoreWebView2Environment*,
                                         IStream* content,
                                         int status,
                                         LPCWSTR reason,
                                         LPCWSTR headers,
                                         ICoreWebView2WebResourceResponse** out) {
  if (out == nullptr) {
    return E_POINTER;
  }
  Response& response = make<Response>();
  response.content = Ref(content);
  response.status = status;
  response.reason = narrow(reason);
  response.headers = narrow(headers);
  *out = response.as<ICoreWebView2WebResourceResponse>();
  return S_OK;
}

const ICoreWebView2EnvironmentVtbl& environmentTable() {
  static const auto table = [] {
    auto made = stubbed<ICoreWebView2EnvironmentVtbl>();
    made.CreateCoreWebView2Controller = &createController;
    made.CreateWebResourceResponse = &createResponse;
    return made;
  }();
  return table;
}

// ---- Controller --------------------------------------------------------------------------

const ICoreWebView2ControllerVtbl& controllerTable() {
  static const auto table = [] {
    auto made = stubbed<ICoreWebView2ControllerVtbl>();
    made.put_IsVisible = [](ICoreWebView2Controller*, BOOL visible) -> HRESULT {
      note("controller.put_IsVisible " + boolText(visible));
      return S_OK;
    };
    made.put_Bounds = [](ICoreWebView2Controller* self, RECT bounds) -> HRESULT {
      note("controller.put_Bounds " + std::to_string(bounds.left) + " " +
           std::to_string(bounds.top) + " " + std::to_string(bounds.right) + " " +
           std::to_string(bounds.bottom));
      nodeOf<Controller>(self).bounds = bounds;
      return S_OK;
    };
    made.get_Bounds = [](ICoreWebView2Controller* self, RECT* bounds) -> HRESULT {
      *bounds = nodeOf<Controller>(self).bounds;
      return S_OK;
    };
    made.MoveFocus = [](ICoreWebView2Controller*,
                        COREWEBVIEW2_MOVE_FOCUS_REASON reason) -> HRESULT {
      note("controller.MoveFocus " +
           std::string(reason == COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC ? "PROGRAMMATIC"
                                                                             : "OTHER"));
      return S_OK;
    };
    made.NotifyParentWindowPositionChanged = [](ICoreWebView2Controller*) -> HRESULT {
      note("controller.NotifyParentWindowPositionChanged");
      return S_OK;
    };
    made.Close = [](ICoreWebView2Controller* self) -> HRESULT {
      note("controller.Close");
      nodeOf<Controller>(self).view->close();
      return S_OK;
    };
    made.get_CoreWebView2 = [](ICoreWebView2Controller* self, ICoreWebView2** out) -> HRESULT {
      View& view = *nodeOf<Controller>(self).view;
      addReference(view);
      *out = view.as<ICoreWebView2>();
      return S_OK;
    };
    return made;
  }();
  return table;
}

// ---- Settings ----------------------------------------------------------------------------

#define STANDIN_BOOL_SETTING(table, property)                                       \
  table.put_##property = [](ICoreWebView2Settings3* self, BOOL value) -> HRESULT {  \
    note("settings.put_" #property " " + boolText(value));                          \
    nodeOf<Settings>(self).values[#property] = value;                               \
    return S_OK;                                                                    \
  };                                                                                \
  table.get_##property = [](ICoreWebView2Settings3* self, BOOL* value) -> HRESULT { \
    const auto& values = nodeOf<Settings>(self).values;                             \
    *value = values.contains(#property) ? values.at(#property) : TRUE;              \
    return S_OK;                                                                    \
  }

const ICoreWebView2Settings3Vtbl& settingsTable() {
  static const auto table = [] {
    auto made = stubbed<ICoreWebView2Settings3Vtbl>();
    STANDIN_BOOL_SETTING(made, AreDefaultContextMenusEnabled);
    STANDIN_BOOL_SETTING(made, AreDevToolsEnabled);
    STANDIN_BOOL_SETTING(made, AreDefaultScriptDialogsEnabled);
    STANDIN_BOOL_SETTING(made, IsStatusBarEnabled);
    STANDIN_BOOL_SETTING(made, AreBrowserAcceleratorKeysEnabled);
    return made;
  }();
  return table;
}

// ---- View --------------------------------------------------------------------------------

template <typename Handler>
HRESULT subscribe(ICoreWebView2* self,
                  Event event,
                  Handler* handler,
                  EventRegistrationToken* token) {
  static const char* const names[] = {
      "NavigationStarting", "NavigationCompleted", "WebResourceRequested", "WebMessageReceived",
      "NewWindowRequested", "PermissionRequested", "ProcessFailed"};
  note(std::string("view.add_") + names[static_cast<int>(event)]);
  if (handler == nullptr || token == nullptr) {
    return E_POINTER;
  }
  static std::int64_t lastToken = 0;
  nodeOf<View>(self).handlers[event].emplace_back(handler);
  token->value = ++lastToken;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE capturePreview(ICoreWebView2* self,
                                         COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT format,
                                         IStream* stream,
                                         ICoreWebView2CapturePreviewCompletedHandler* handler) {
  note(std::string("view.CapturePreview ") +
       (format == COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG ? "PNG" : "JPEG"));
  View& view = nodeOf<View>(self);
  if (stream == nullptr || handler == nullptr) {
    return E_POINTER;
  }
  later(
      [&view, image = Ref(stream), held = Ref(handler)] {
        const RECT& bounds = view.controller->bounds;
        const HRESULT written = writePng(image.get<IStream>(), bounds.right - bounds.left,
                                         bounds.bottom - bounds.top, RGB(11, 9, 12));
        note("capture written " + hexCode(written));
        auto* completed = held.get<ICoreWebView2CapturePreviewCompletedHandler>();
        completed->lpVtbl->Invoke(completed, written);
      },
      &view);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE executeScript(ICoreWebView2* self,
                                        LPCWSTR script,
                                        ICoreWebView2ExecuteScriptCompletedHandler* handler) {
  const std::string text = narrow(script);
  note("view.ExecuteScript " + std::to_string(text.size()) + " bytes");
  View& view = nodeOf<View>(self);
  later(
      [&view, text, held = Ref(handler)] {
        if (auto* completed = held.get<ICoreWebView2ExecuteScriptCompletedHandler>()) {
          completed->lpVtbl->Invoke(completed, S_OK, L"null");
        }
        pageExecutes(view, text);
      },
      &view);
  return S_OK;
}

const ICoreWebView2Vtbl& viewTable() {
  static const auto table = [] {
    auto made = stubbed<ICoreWebView2Vtbl>();
    made.get_Settings = [](ICoreWebView2* self, ICoreWebView2Settings** out) -> HRESULT {
      View& view = nodeOf<View>(self);
      if (view.settings == nullptr) {
        view.settings = &make<Settings>();
      }
      addReference(*view.settings);
      *out = view.settings->as<ICoreWebView2Settings>();
      return S_OK;
    };
    made.Navigate = [](ICoreWebView2* self, LPCWSTR uri) -> HRESULT {
      note("view.Navigate " + narrow(uri));
      beginNavigation(nodeOf<View>(self), narrow(uri));
      return S_OK;
    };
    made.AddWebResourceRequestedFilter = [](ICoreWebView2* self, LPCWSTR uri,
                                            COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) -> HRESULT {
      note("view.AddWebResourceRequestedFilter " + narrow(uri) + " " + contextName(context));
      nodeOf<View>(self).filters.emplace_back(narrow(uri), context);
      return S_OK;
    };
    made.add_NavigationStarting = [](ICoreWebView2* self, auto* handler, auto* token) {
      return subscribe(self, Event::NavigationStarting, handler, token);
    };
    made.add_NavigationCompleted = [](ICoreWebView2* self, auto* handler, auto* token) {
      return subscribe(self, Event::NavigationCompleted, handler, token);
    };
    made.add_WebResourceRequested = [](ICoreWebView2* self, auto* handler, auto* token) {
      return subscribe(self, Event::WebResourceRequested, handler, token);
    };
    made.add_WebMessageReceived = [](ICoreWebView2* self, auto* handler, auto* token) {
      return subscribe(self, Event::WebMessageReceived, handler, token);
    };
    made.add_NewWindowRequested = [](ICoreWebView2* self, auto* handler, auto* token) {
      return subscribe(self, Event::NewWindowRequested, handler, token);
    };
    made.add_PermissionRequested = [](ICoreWebView2* self, auto* handler, auto* token) {
      return subscribe(self, Event::PermissionRequested, handler, token);
    };
    made.add_ProcessFailed = [](ICoreWebView2* self, auto* handler, auto* token) {
      return subscribe(self, Event::ProcessFailed, handler, token);
    };
    made.Reload = [](ICoreWebView2* self) -> HRESULT {
      View& view = nodeOf<View>(self);
      note("view.Reload");
      beginNavigation(view, view.page.location);
      return S_OK;
    };
    made.PostWebMessageAsJson = [](ICoreWebView2* self, LPCWSTR json) -> HRESULT {
      View& view = nodeOf<View>(self);
      note("view.PostWebMessageAsJson " + narrow(json));
      if (view.closed) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
      }
      later([&view, text = narrow(json)] { pagePosted(view, text); }, &view);
      return S_OK;
    };
    made.ExecuteScript = &executeScript;
    made.CapturePreview = &capturePreview;
    return made;
  }();
  return table;
}

// ---- Requests, responses and event arguments ---------------------------------------------

const ICoreWebView2WebResourceRequestVtbl& requestTable() {
  static const auto table = [] {
    auto made = stubbed<ICoreWebView2WebResourceRequestVtbl>();
    made.get_Uri = [](ICoreWebView2WebResourceRequest* self, LPWSTR* out) {
      return giveString(nodeOf<Request>(self).uri, out);
    };
    made.get_Method = [](ICoreWebView2WebResourceRequest*, LPWSTR* out) {
      return giveString("GET", out);
    };
    return made;
  }();
  return table;
}

const ICoreWebView2WebResourceResponseVtbl& responseTable() {
  static const auto table = [] {
    auto made = stubbed<ICoreWebView2WebResourceResponseVtbl>();
    made.get_StatusCode = [](ICoreWebView2WebResourceResponse* self, int* out) -> HRESULT {
      *out = nodeOf<Response>(self).status;
      return S_OK;
    };
    made.get_ReasonPhrase = [](ICoreWebView2WebResourceResponse* self, LPWSTR* out) {
      return giveString(nodeOf<Response>(self).reason, out);
    };
    return made;
  }();
  return table;
}

// One table per kind of arguments, each method taken from the one object behind them all.
template <typename Table>
const Table& argumentsTable() {
  static const Table table = [] {
    auto made = stubbed<Table>();
    if constexpr (requires { made.get_Uri; }) {
      made.get_Uri = [](auto* face, LPWSTR* out) {
        return giveString(nodeOf<Arguments>(face).uri, out);
      };
    }
    if constexpr (requires { made.get_Source; }) {
      made.get_Source = [](auto* face, LPWSTR* out) {
        return giveString(nodeOf<Arguments>(face).source, out);
      };
    }
    if constexpr (requires { made.get_WebMessageAsJson; }) {
      made.get_WebMessageAsJson = [](auto* face, LPWSTR* out) {
        return giveString(nodeOf<Arguments>(face).json, out);
      };
    }
    if constexpr (requires { made.put_Cancel; }) {
      made.put_Cancel = [](auto* face, BOOL value) -> HRESULT {
        nodeOf<Arguments>(face).cancel = value;
        return S_OK;
      };
      made.get_Cancel = [](auto* face, BOOL* value) -> HRESULT {
        *value = nodeOf<Arguments>(face).cancel;
        return S_OK;
      };
    }
    if constexpr (requires { made.put_Handled; }) {
      made.put_Handled = [](auto* face, BOOL value) -> HRESULT {
        nodeOf<Arguments>(face).handled = value;
        return S_OK;
      };
    }
    if constexpr (requires { made.put_State; }) {
      made.put_State = [](auto* face, COREWEBVIEW2_PERMISSION_STATE value) -> HRESULT {
        nodeOf<Arguments>(face).state = value;
        return S_OK;
      };
    }
    if constexpr (requires { made.get_ProcessFailedKind; }) {
      made.get_ProcessFailedKind = [](auto* face, COREWEBVIEW2_PROCESS_FAILED_KIND* value) {
        *value = nodeOf<Arguments>(face).failedKind;
        return S_OK;
      };
    }
    if constexpr (requires { made.get_IsSuccess; }) {
      made.get_IsSuccess = [](auto* face, BOOL* value) -> HRESULT {
        *value = nodeOf<Arguments>(face).success;
        return S_OK;
      };
      made.get_WebErrorStatus = [](auto* face, COREWEBVIEW2_WEB_ERROR_STATUS* value) -> HRESULT {
        *value = nodeOf<Arguments>(face).error;
        return S_OK;
      };
    }
    if constexpr (requires { made.put_Response; }) {
      made.get_Request = [](auto* face, ICoreWebView2WebResourceRequest** out) -> HRESULT {
        Request& request = *nodeOf<Arguments>(face).request;
        addReference(request);
        *out = request.as<ICoreWebView2WebResourceRequest>();
        return S_OK;
      };
      made.put_Response = [](auto* face, ICoreWebView2WebResourceResponse* response) -> HRESULT {
        nodeOf<Arguments>(face).response = Ref(response);
        return S_OK;
      };
      made.get_ResourceContext = [](auto* face,
                                    COREWEBVIEW2_WEB_RESOURCE_CONTEXT* value) -> HRESULT {
        *value = nodeOf<Arguments>(face).context;
        return S_OK;
      };
    }
    return made;
  }();
  return table;
}

template <typename Table>
Arguments& argumentsOf(const char* kind, const IID& iid) {
  return make<Arguments>(kind, iid, &argumentsTable<Table>());
}

template <typename Handler, typename Sender, typename Argument>
void invoke(HRESULT(STDMETHODCALLTYPE* function)(Handler*, Sender*, Argument*),
            Handler* handler,
            View& view,
            Arguments& arguments) {
  function(handler, view.as<Sender>(), arguments.as<Argument>());
}

}  // namespace

Environment::Environment()
    : Node("environment", {&IID_ICoreWebView2Environment}, &environmentTable()) {}

Controller::Controller() : Node("controller", {&IID_ICoreWebView2Controller}, &controllerTable()) {}

void Controller::lastReleased() {
  release(*view);
}

Settings::Settings()
    : Node("settings",
           {&IID_ICoreWebView2Settings, &IID_ICoreWebView2Settings2, &IID_ICoreWebView2Settings3},
           &settingsTable()) {}

Request::Request(std::string address)
    : Node("request", {&IID_ICoreWebView2WebResourceRequest}, &requestTable()),
      uri(std::move(address)) {}

Response::Response()
    : Node("response", {&IID_ICoreWebView2WebResourceResponse}, &responseTable()) {}

Arguments::Arguments(const char* kindName, const IID& iid, const void* table)
    : Node(kindName, {&iid}, table) {}

void Arguments::lastReleased() {
  response = Ref();
  if (request != nullptr) {
    release(*request);
  }
}

View::View() : Node("view", {&IID_ICoreWebView2}, &viewTable()) {}

void View::lastReleased() {
  close();
  if (settings != nullptr) {
    release(*settings);
  }
}

void View::close() {
  closed = true;
  handlers.clear();
  page.awaiting.clear();
  dropTasksOf(this);
}

Arguments& makeArguments(Event event) {
  switch (event) {
    case Event::NavigationStarting:
      return argumentsOf<ICoreWebView2NavigationStartingEventArgsVtbl>(
          "navigation-starting", IID_ICoreWebView2NavigationStartingEventArgs);
    case Event::NavigationCompleted:
      return argumentsOf<ICoreWebView2NavigationCompletedEventArgsVtbl>(
          "navigation-completed", IID_ICoreWebView2NavigationCompletedEventArgs);
    case Event::WebResourceRequested:
      return argumentsOf<ICoreWebView2WebResourceRequestedEventArgsVtbl>(
          "resource-requested", IID_ICoreWebView2WebResourceRequestedEventArgs);
    case Event::WebMessageReceived:
      return argumentsOf<ICoreWebView2WebMessageReceivedEventArgsVtbl>(
          "message-received", IID_ICoreWebView2WebMessageReceivedEventArgs);
    case Event::NewWindowRequested:
      return argumentsOf<ICoreWebView2NewWindowRequestedEventArgsVtbl>(
          "new-window-requested", IID_ICoreWebView2NewWindowRequestedEventArgs);
    case Event::ProcessFailed:
      return argumentsOf<ICoreWebView2ProcessFailedEventArgsVtbl>(
          "process-failed", IID_ICoreWebView2ProcessFailedEventArgs);
    case Event::PermissionRequested:
      break;
  }
  return argumentsOf<ICoreWebView2PermissionRequestedEventArgsVtbl>(
      "permission-requested", IID_ICoreWebView2PermissionRequestedEventArgs);
}

void raise(View& view, Event event, Arguments& arguments) {
  const std::vector<Ref> subscribed = view.handlers[event];
  for (const Ref& handler : subscribed) {
    switch (event) {
#define STANDIN_RAISE(name)                                           \
  case Event::name: {                                                 \
    auto* invoked = handler.get<ICoreWebView2##name##EventHandler>(); \
    invoke(invoked->lpVtbl->Invoke, invoked, view, arguments);        \
    break;                                                            \
  }
      STANDIN_RAISE(NavigationStarting)
      STANDIN_RAISE(NavigationCompleted)
      STANDIN_RAISE(WebResourceRequested)
      STANDIN_RAISE(WebMessageReceived)
      STANDIN_RAISE(NewWindowRequested)
      STANDIN_RAISE(PermissionRequested)
      STANDIN_RAISE(ProcessFailed)
#undef STANDIN_RAISE
    }
  }
}

}  // namespace standin

// The loader's one entry point the host calls.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserFolder,
    PCWSTR userDataFolder,
    ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  using namespace standin;
  static unsigned attempt = 0;
  // The runtime's own variables come before the parameters and the options.
  const std::string arguments = overriddenBy(L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", {});
  note("CreateCoreWebView2EnvironmentWithOptions browser=" +
       overriddenBy(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", narrow(browserFolder)) +
       " user-data=" + overriddenBy(L"WEBVIEW2_USER_DATA_FOLDER", narrow(userDataFolder)) +
       " options=" + (options ? "given" : "none") + " arguments=" + arguments);
  return completeCreation<ICoreWebView2Environment>(handler, "environment", attempt,
                                                    []() -> Node& { return make<Environment>(); });
}
