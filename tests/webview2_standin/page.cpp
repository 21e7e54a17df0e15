// The page the view shows: it loads through the host's resource handler and plays the tests'
// script over the bridge, as the launcher page would.

#include <regex>

#include "objects.h"

namespace standin {

namespace {

constexpr unsigned kPollMilliseconds = 350;

struct Resource {
  int status = 0;
  std::string body;
};

bool filtered(const View& view, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) {
  for (const auto& [pattern, filterContext] : view.filters) {
    if (pattern == "*" &&
        (filterContext == COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL || filterContext == context)) {
      return true;
    }
  }
  return false;
}

std::string readAll(IStream* stream) {
  std::string bytes;
  char block[4096];
  ULONG read = 0;
  while (stream != nullptr && SUCCEEDED(stream->lpVtbl->Read(stream, block, sizeof block, &read)) &&
         read > 0) {
    bytes.append(block, read);
  }
  return bytes;
}

// Asks the host for one file through WebResourceRequested, as the runtime does for a page.
Resource requestResource(View& view,
                         const std::string& uri,
                         COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) {
  if (!filtered(view, context)) {
    note("resource " + uri + " not filtered");
    return {};
  }
  Arguments& arguments = makeArguments(Event::WebResourceRequested);
  arguments.request = &make<Request>(uri);
  arguments.context = context;
  raise(view, Event::WebResourceRequested, arguments);
  Resource resource;
  if (const auto* face = arguments.response.get<Face>()) {
    const Response& response = static_cast<const Response&>(*face->node);
    resource = {response.status, readAll(response.content.get<IStream>())};
    note("resource " + uri + " " + std::to_string(response.status) + " " + response.reason +
         " bytes=" + std::to_string(resource.body.size()) + " sha256=" + sha256Hex(resource.body) +
         " headers=" + quoted(response.headers));
  } else {
    note("resource " + uri + " unanswered");
  }
  release(arguments);
  return resource;
}

COREWEBVIEW2_WEB_RESOURCE_CONTEXT contextOf(const std::string& file) {
  if (file.ends_with(".css")) {
    return COREWEBVIEW2_WEB_RESOURCE_CONTEXT_STYLESHEET;
  }
  if (file.ends_with(".js")) {
    return COREWEBVIEW2_WEB_RESOURCE_CONTEXT_SCRIPT;
  }
  if (file.ends_with(".png")) {
    return COREWEBVIEW2_WEB_RESOURCE_CONTEXT_IMAGE;
  }
  return COREWEBVIEW2_WEB_RESOURCE_CONTEXT_OTHER;
}

// Every file a document names by link href, script src or img src, relative to its folder.
std::vector<std::string> referencedFiles(const std::string& document, const std::string& uri) {
  static const std::regex reference(R"re((?:href|src)="([^"]+)")re");
  const std::string folder = uri.substr(0, uri.rfind('/') + 1);
  std::vector<std::string> files;
  for (auto match = std::sregex_iterator(document.begin(), document.end(), reference);
       match != std::sregex_iterator(); ++match) {
    files.push_back(folder + (*match)[1].str());
  }
  return files;
}

void nextStep(View& view);

void completeNavigation(View& view,
                        const std::string& uri,
                        bool success,
                        COREWEBVIEW2_WEB_ERROR_STATUS error) {
  Arguments& arguments = makeArguments(Event::NavigationCompleted);
  arguments.success = success ? TRUE : FALSE;
  arguments.error = error;
  note("navigation-completed " + uri + (success ? " success" : " failure"));
  if (success) {
    view.page.location = uri;
  }
  raise(view, Event::NavigationCompleted, arguments);
  release(arguments);
  if (!view.page.awaitedNavigation.empty() && view.page.awaitedNavigation == uri) {
    view.page.awaitedNavigation.clear();
    later([&view] { nextStep(view); }, &view);
  }
  if (success && !view.page.scriptStarted) {
    view.page.scriptStarted = true;
    later([&view] { nextStep(view); }, &view);
  }
}

void loadDocument(View& view, const std::string& uri) {
  const Resource document = requestResource(view, uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT_DOCUMENT);
  if (document.status == 200) {
    view.page.document = document.body;
    for (const std::string& file : referencedFiles(document.body, uri)) {
      later([&view, file] { requestResource(view, file, contextOf(file)); }, &view);
    }
  }
  later(
      [&view, uri, success = document.status == 200] {
        completeNavigation(view, uri, success,
                           success ? COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN
                                   : COREWEBVIEW2_WEB_ERROR_STATUS_CONNECTION_ABORTED);
      },
      &view);
}

void startNavigation(View& view, const std::string& uri) {
  Arguments& arguments = makeArguments(Event::NavigationStarting);
  arguments.uri = uri;
  raise(view, Event::NavigationStarting, arguments);
  const bool cancelled = arguments.cancel != FALSE;
  release(arguments);
  note("navigation-starting " + uri + (cancelled ? " cancelled" : " proceeds"));
  if (cancelled) {
    later(
        [&view, uri] {
          completeNavigation(view, uri, false, COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED);
        },
        &view);
  } else {
    later([&view, uri] { loadDocument(view, uri); }, &view);
  }
}

// One web message from the page, as its script would post it.
void deliver(View& view, const std::string& source, const std::string& json) {
  note("message " + source + " " + json);
  Arguments& arguments = makeArguments(Event::WebMessageReceived);
  arguments.source = source;
  arguments.json = json;
  raise(view, Event::WebMessageReceived, arguments);
  release(arguments);
}

// A request of the page's bridge; `then` gets the reply the host posts for it.
void call(View& view,
          const std::string& method,
          const nlohmann::json& params,
          std::function<void(const nlohmann::json&)> then) {
  const std::int32_t id = ++view.page.lastId;
  view.page.awaiting[id] = std::move(then);
  deliver(view, view.page.location,
          nlohmann::json{{"id", id}, {"method", method}, {"params", params}}.dump());
}

void pollUntil(View& view, const std::string& text) {
  call(view, "get_loader_state", nlohmann::json::array(), [&view, text](const auto& reply) {
    if (reply.dump().find(text) != std::string::npos) {
      nextStep(view);
    } else {
      later([&view, text] { pollUntil(view, text); }, &view, kPollMilliseconds);
    }
  });
}

// "wait-for <path>": the page goes on once the test has made the file.
void waitForFile(View& view, const std::string& path) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    nextStep(view);
  } else {
    later([&view, path] { waitForFile(view, path); }, &view, 50);
  }
}

Arguments& raiseOnce(View& view, Event event, const std::string& uri) {
  Arguments& arguments = makeArguments(event);
  arguments.uri = uri;
  raise(view, event, arguments);
  return arguments;
}

// "process-failed render-exited|render-unresponsive|browser-exited [first]": the runtime tells
// the view that one of its processes failed; with "first", only the first view of the run hears.
// A renderer that stays unresponsive is reported again every few seconds: one line per report.
void failProcess(View& view, const std::string& what) {
  static bool failedOnce = false;
  const bool first = what.ends_with(" first");
  if (first && failedOnce) {
    return;
  }
  failedOnce = true;
  const std::string kind = what.substr(0, what.find(' '));
  Arguments& arguments = makeArguments(Event::ProcessFailed);
  arguments.failedKind =
      kind == "render-exited"         ? COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED
      : kind == "render-unresponsive" ? COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE
                                      : COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
  note("process-failed " + kind);
  raise(view, Event::ProcessFailed, arguments);
  release(arguments);
}

// Runs the script's next page directive; the configuration directives are not the page's.
void nextStep(View& view) {
  const std::vector<std::string>& lines = scriptLines();
  if (view.page.nextStep >= lines.size()) {
    return;
  }
  const std::string line = lines[view.page.nextStep++];
  const std::size_t space = line.find(' ');
  const std::string verb = line.substr(0, space);
  const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
  const auto continueLater = [&view] { later([&view] { nextStep(view); }, &view); };
  if (verb == "message") {
    const std::size_t split = rest.find(' ');
    deliver(view, rest.substr(0, split), rest.substr(split + 1));
    continueLater();
  } else if (verb == "call") {
    const std::size_t split = rest.find(' ');
    const nlohmann::json params = split == std::string::npos
                                      ? nlohmann::json::array()
                                      : nlohmann::json::parse(rest.substr(split + 1));
    call(view, rest.substr(0, split), params, [continueLater](const auto&) { continueLater(); });
  } else if (verb == "poll") {
    pollUntil(view, rest);
  } else if (verb == "wait-for") {
    waitForFile(view, rest);
  } else if (verb == "navigate") {
    later([&view, rest] { startNavigation(view, rest); }, &view);
    continueLater();
  } else if (verb == "navigated") {
    // The page navigates, and the script goes on once that navigation has completed.
    view.page.awaitedNavigation = rest;
    later([&view, rest] { startNavigation(view, rest); }, &view);
  } else if (verb == "request") {
    requestResource(view, rest, COREWEBVIEW2_WEB_RESOURCE_CONTEXT_OTHER);
    continueLater();
  } else if (verb == "new-window") {
    Arguments& arguments = raiseOnce(view, Event::NewWindowRequested, rest);
    note("new-window " + rest + (arguments.handled ? " handled" : " unhandled"));
    release(arguments);
    continueLater();
  } else if (verb == "permission") {
    Arguments& arguments = raiseOnce(view, Event::PermissionRequested, rest);
    note("permission " + rest + " state=" + std::to_string(arguments.state));
    release(arguments);
    continueLater();
  } else if (verb == "process-failed") {
    failProcess(view, rest);
    continueLater();
  } else {
    nextStep(view);  // configuration, read where it applies
  }
}

}  // namespace

void beginNavigation(View& view, const std::string& uri) {
  later([&view, uri] { startNavigation(view, uri); }, &view);
}

void pagePosted(View& view, const std::string& json) {
  const nlohmann::json reply = nlohmann::json::parse(json, nullptr, false);
  if (!reply.is_object() || !reply.contains("id") || !reply["id"].is_number_integer()) {
    return;
  }
  const auto waiting = view.page.awaiting.find(reply["id"].get<std::int32_t>());
  if (waiting != view.page.awaiting.end()) {
    const auto then = std::move(waiting->second);
    view.page.awaiting.erase(waiting);
    then(reply);
  }
}

// The automated interface test's script, played over the bridge: the preview state, two
// operations the preview refuses, then the verdict.
void pageExecutes(View& view, const std::string& script) {
  if (script.find("test_result") == std::string::npos) {
    return;
  }
  note("page plays the automated test");
  call(view, "get_loader_state", nlohmann::json::array(), [&view](const auto& state) {
    const nlohmann::json& result = state.value("result", nlohmann::json());
    const bool progressBar =
        view.page.document.find(R"(id="downloadProgress" max="100")") != std::string::npos;
    const bool good = result.is_object() && result.value("canLaunch", true) == false &&
                      result.value("busy", true) == false && progressBar;
    call(view, "launch_app", nlohmann::json::array(), [&view, good](const auto& launched) {
      call(view, "check_update", nlohmann::json::array(),
           [&view, good = good && launched.contains("error")](const auto& checked) {
             call(view, "test_result", {good && checked.contains("error")}, [](const auto&) {});
           });
    });
  });
}

}  // namespace standin
