#include <cairo.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string_view>

#include "base/failure.h"
#include "base/path_text.h"
#include "base/process.h"
#include "web/bridge.h"
#include "web/interface_files.h"
#include "web/profile.h"
#include "web/startup.h"
#include "web/web_window.h"
#include "web/web_window_host.h"
#include "web/window_frame_gtk.h"

namespace muvra {

namespace {

constexpr int kWidth = 540;
constexpr int kHeight = 650;
constexpr int kMinimumWidth = 430;
constexpr int kMinimumHeight = 510;
constexpr int kSplashMargin = 35;
constexpr const char* kScheme = "muvra-ui";
constexpr std::uint32_t kFailed = 0x80004005;

// Gives the page window.chrome.webview on top of WebKit's script message handler: the answer to
// a request comes back as the reply to its message, anything else the host posts by a script.
constexpr const char* kBridgeScript = R"JS((function () {
  var listeners = [];
  var deliver = function (message) {
    listeners.slice().forEach(function (listener) { listener({ data: message }); });
  };
  window.chrome = window.chrome || {};
  window.chrome.webview = {
    postMessage: function (message) {
      window.webkit.messageHandlers.muvra.postMessage(JSON.stringify(message)).then(
        function (reply) { if (typeof reply === 'string') deliver(JSON.parse(reply)); },
        function () {});
    },
    addEventListener: function (type, listener) {
      if (type === 'message') listeners.push(listener);
    },
    removeEventListener: function (type, listener) {
      listeners = listeners.filter(function (l) { return l !== listener; });
    }
  };
  Object.defineProperty(window, '__muvraDeliver', { value: deliver });
})();)JS";

// The pages name the Windows interface fonts first, which Linux does not have: looking each up
// and missing it costs the web process about 20 ms of every start. Their fallback, the system's
// sans-serif, is set directly.
constexpr const char* kSystemFontSheet = "body { font-family: sans-serif !important; }";

template <typename T>
struct GObjectDeleter {
  void operator()(T* object) const {
    if (object != nullptr) {
      g_object_unref(object);
    }
  }
};
template <typename T>
using GObjectRef = std::unique_ptr<T, GObjectDeleter<T>>;

}  // namespace

struct WebWindow::Host : WebWindowHostBase {
  explicit Host(WebWindow& window_owner)
      : WebWindowHostBase({[this](const std::string& text) { postToPage(text); },
                           [this] { gtk_window_iconify(GTK_WINDOW(window)); },
                           [this] { closeWindow(); }, [this] { beginMoveDrag(window); }}),
        owner(window_owner) {}

  ~Host() {
    *alive = false;
    if (content) {
      g_signal_handlers_disconnect_by_data(content.get(), this);
    }
    for (const guint source : signalSources) {
      g_source_remove(source);
    }
    if (restartSource != 0) {
      g_source_remove(restartSource);
    }
    if (deadlineTimer != nullptr) {
      g_source_destroy(deadlineTimer);
      g_source_unref(deadlineTimer);
    }
    if (window != nullptr) {
      gtk_widget_destroy(window);  // with the view inside it
    }
    window = nullptr;
    view = nullptr;
    processEvents();
  }

  // The window's own pieces.
  bool createWindow();
  void paintSplash(cairo_t* cairo);
  void showSplash();
  void closeWindow();

  // Browser start-up and its stages.
  void startBrowser();
  struct FilterStep;
  void createController();
  static void compileFilter(std::unique_ptr<FilterStep> step);
  void controllerReady(WebKitUserContentFilter* filter, GError* error);
  void createView(WebKitUserContentFilter* filter);
  void reportFailure(std::string_view stage, std::uint32_t code);
  void restart();
  void navigate(const std::string& page);

  // Handlers of the view.
  void serve(WebKitURISchemeRequest* request);
  gboolean decidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
  void loadChanged(WebKitLoadEvent event);
  void receive(JSCValue* message, WebKitScriptMessageReply* reply);
  void postToPage(const std::string& text);

  static void processEvents() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }

  WebWindow& owner;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
  bool ready = false;
  bool loadFailed = false;
  GSource* deadlineTimer = nullptr;  // wakes the run loop at its deadline
  // The request being handled, whose answer goes back as its reply.
  struct {
    WebKitScriptMessageReply* reply = nullptr;
    JSCContext* context = nullptr;
  } answering;

  GtkWidget* window = nullptr;
  GtkWidget* stack = nullptr;
  GtkWidget* splash = nullptr;
  GObjectRef<WebKitWebContext> context;
  GObjectRef<WebKitUserContentManager> content;
  GtkWidget* view = nullptr;
  std::vector<guint> signalSources;
  guint restartSource = 0;
};

bool WebWindow::Host::createWindow() {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::cerr << "Muvra Loader: no display is available for the launcher window.\n";
    return false;
  }
  window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Muvra");
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window), kWidth, kHeight);
  GdkGeometry minimum{};
  minimum.min_width = kMinimumWidth;
  minimum.min_height = kMinimumHeight;
  gtk_window_set_geometry_hints(GTK_WINDOW(window), nullptr, &minimum, GDK_HINT_MIN_SIZE);

  addResizeBorder(window);
  stack = gtk_stack_new();
  splash = gtk_drawing_area_new();
  gtk_stack_add_named(GTK_STACK(stack), splash, "splash");
  gtk_container_add(GTK_CONTAINER(window), stack);
  g_signal_connect(splash, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cairo, Host* host) {
                     host->paintSplash(cairo);
                     return FALSE;
                   }),
                   this);
  g_signal_connect(window, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, Host* host) {
                     host->closeWindow();
                     return TRUE;
                   }),
                   this);
  for (const int signal : {SIGINT, SIGTERM}) {
    signalSources.push_back(g_unix_signal_add(
        signal,
        +[](gpointer data) -> gboolean {
          static_cast<Host*>(data)->closeWindow();
          return G_SOURCE_CONTINUE;
        },
        this));
  }
  startup.windowExists = true;
  return true;
}

void WebWindow::Host::paintSplash(cairo_t* cairo) {
  const int width = gtk_widget_get_allocated_width(splash);
  const int height = gtk_widget_get_allocated_height(splash);
  cairo_set_source_rgb(cairo, 11 / 255.0, 9 / 255.0, 12 / 255.0);
  cairo_paint(cairo);
  PangoLayout* layout = gtk_widget_create_pango_layout(
      splash, startup.statusText.empty() ? "Opening Muvra..." : startup.statusText.c_str());
  PangoAttrList* attributes = pango_attr_list_new();
  pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
  pango_layout_set_attributes(layout, attributes);
  pango_attr_list_unref(attributes);
  pango_layout_set_width(layout, std::max(0, width - 2 * kSplashMargin) * PANGO_SCALE);
  pango_layout_set_height(layout, std::max(0, height - 2 * kSplashMargin) * PANGO_SCALE);
  pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  cairo_set_source_rgb(cairo, 239 / 255.0, 139 / 255.0, 184 / 255.0);
  cairo_move_to(cairo, kSplashMargin, kSplashMargin);
  pango_cairo_show_layout(cairo, layout);
  g_object_unref(layout);
}

void WebWindow::Host::showSplash() {
  gtk_stack_set_visible_child(GTK_STACK(stack), splash);
  gtk_widget_queue_draw(splash);
}

void WebWindow::Host::closeWindow() {
  if (onClose) {
    onClose();
  }
  // Nothing runs the loop once the window is closed: without GLib's handlers, a SIGINT or
  // SIGTERM while the process ends ends it at once.
  for (const guint source : signalSources) {
    g_source_remove(source);
  }
  signalSources.clear();
  startup.closing = true;
  if (window != nullptr) {
    gtk_widget_hide(window);
  }
}

void WebWindow::Host::reportFailure(std::string_view stage, std::uint32_t code) {
  const StartupOutcome outcome = reportStartupFailure(startup, stage, code);
  showSplash();
  failedForGood = outcome == StartupOutcome::Failed;
  if (outcome == StartupOutcome::Restart) {
    if (restartSource != 0) {
      return;
    }
    restartSource = g_idle_add_full(
        G_PRIORITY_DEFAULT,
        +[](gpointer data) -> gboolean {
          Host* host = static_cast<Host*>(data);
          host->restartSource = 0;
          host->restart();
          return G_SOURCE_REMOVE;
        },
        this, nullptr);
  }
}

void WebWindow::Host::restart() {
  if (startup.closing || window == nullptr) {
    return;
  }
  if (view != nullptr) {
    gtk_widget_destroy(view);
    view = nullptr;
  }
  content.reset();
  context.reset();
  ready = false;
  startBrowser();
}

void WebWindow::Host::startBrowser() {
  std::optional<std::uint32_t> folderFailure;
  try {
    folderFailure = createProfileFolder(startup);
  } catch (const std::exception& failure) {
    failedForGood = true;
    startup.statusText = failure.what();
    showSplash();
    return;
  }
  if (folderFailure) {
    reportFailure("Create profile folder", *folderFailure);
    return;
  }

  logStartupStage(startup, "Create environment", 0);
  const std::string folder = pathToUtf8(startup.profileFolder);
  GObjectRef<WebKitWebsiteDataManager> storage(webkit_website_data_manager_new(
      "base-data-directory", folder.c_str(), "base-cache-directory", folder.c_str(), nullptr));
  context.reset(webkit_web_context_new_with_website_data_manager(storage.get()));
  if (!context) {
    reportFailure("Create environment callback", kFailed);
    return;
  }
  webkit_web_context_register_uri_scheme(
      context.get(), kScheme,
      +[](WebKitURISchemeRequest* request, gpointer data) {
        static_cast<Host*>(data)->serve(request);
      },
      this, nullptr);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context.get());
  webkit_security_manager_register_uri_scheme_as_secure(security, kScheme);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kScheme);
  createController();
}

// The content filter that refuses every request outside the interface scheme. Compiling it
// takes the network process a while, so the compiled filter is kept in the profile under a name
// made of the rules' SHA-256, and compiled only when no file of the user's own compiled from
// these rules is there yet.
namespace {

constexpr const char* kFilterRules =
    R"([{"trigger":{"url-filter":".*"},"action":{"type":"block"}},)"
    R"({"trigger":{"url-filter":"^muvra-ui:"},"action":{"type":"ignore-previous-rules"}}])";

std::string filterIdentifier() {
  gchar* digest = g_compute_checksum_for_string(G_CHECKSUM_SHA256, kFilterRules, -1);
  std::string identifier = std::string("interface-only-") + digest;
  g_free(digest);
  return identifier;
}

// WebKit keeps the rules a filter was compiled from in its file, beside the compiled form.
bool isCompiledFromTheRules(const std::filesystem::path& store) {
  const std::filesystem::path file = store / ("ContentRuleList-" + filterIdentifier());
  struct stat status {};
  if (::lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_uid != ::geteuid()) {
    return false;
  }
  std::ifstream compiled(file, std::ios::binary);
  const std::string content{std::istreambuf_iterator<char>(compiled), {}};
  return content.find(kFilterRules) != std::string::npos;
}

}  // namespace

// A step of the filter's start-up: the store it works on and the host, if still there.
struct WebWindow::Host::FilterStep {
  std::weak_ptr<bool> alive;
  Host* host;
  GObjectRef<WebKitUserContentFilterStore> store;

  Host* living() const {
    const std::shared_ptr<bool> flag = alive.lock();
    return flag && *flag ? host : nullptr;
  }
};

void WebWindow::Host::createController() {
  logStartupStage(startup, "Create controller", 0);
  if (owner.recoveryTest && startup.attempt == 0) {
    reportFailure("Create controller callback", kFailed);
    return;
  }
  const std::filesystem::path folder = startup.profileFolder / "content-filters";
  auto* step =
      new FilterStep{alive, this,
                     GObjectRef<WebKitUserContentFilterStore>(
                         webkit_user_content_filter_store_new(pathToUtf8(folder).c_str()))};
  if (!isCompiledFromTheRules(folder)) {
    std::error_code ignored;
    std::filesystem::remove(folder / ("ContentRuleList-" + filterIdentifier()), ignored);
    compileFilter(std::unique_ptr<FilterStep>(step));
    return;
  }
  webkit_user_content_filter_store_load(
      step->store.get(), filterIdentifier().c_str(), nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<FilterStep> loaded(static_cast<FilterStep*>(data));
        WebKitUserContentFilter* filter = webkit_user_content_filter_store_load_finish(
            WEBKIT_USER_CONTENT_FILTER_STORE(source), result, nullptr);
        if (filter != nullptr) {
          if (Host* host = loaded->living()) {
            host->controllerReady(filter, nullptr);
          }
          webkit_user_content_filter_unref(filter);
        } else if (loaded->living() != nullptr) {
          compileFilter(std::move(loaded));
        }
      },
      step);
}

void WebWindow::Host::compileFilter(std::unique_ptr<FilterStep> step) {
  GBytes* rules = g_bytes_new_static(kFilterRules, std::strlen(kFilterRules));
  WebKitUserContentFilterStore* store = step->store.get();
  webkit_user_content_filter_store_save(
      store, filterIdentifier().c_str(), rules, nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<FilterStep> saved(static_cast<FilterStep*>(data));
        GError* error = nullptr;
        WebKitUserContentFilter* filter = webkit_user_content_filter_store_save_finish(
            WEBKIT_USER_CONTENT_FILTER_STORE(source), result, &error);
        if (Host* host = saved->living()) {
          host->controllerReady(filter, error);
        }
        if (filter != nullptr) {
          webkit_user_content_filter_unref(filter);
        }
        if (error != nullptr) {
          g_error_free(error);
        }
      },
      step.release());
  g_bytes_unref(rules);
}

void WebWindow::Host::controllerReady(WebKitUserContentFilter* filter, GError* error) {
  if (filter == nullptr || error != nullptr) {
    reportFailure("Create controller callback", kFailed);
    return;
  }
  createView(filter);
}

void WebWindow::Host::createView(WebKitUserContentFilter* filter) {
  content.reset(webkit_user_content_manager_new());
  webkit_user_content_manager_add_filter(content.get(), filter);
  WebKitUserScript* script =
      webkit_user_script_new(kBridgeScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content.get(), script);
  webkit_user_script_unref(script);
  WebKitUserStyleSheet* font =
      webkit_user_style_sheet_new(kSystemFontSheet, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                  WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
  webkit_user_content_manager_add_style_sheet(content.get(), font);
  webkit_user_style_sheet_unref(font);
  g_signal_connect(content.get(), "script-message-with-reply-received::muvra",
                   G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* message,
                                  WebKitScriptMessageReply* reply, Host* host) -> gboolean {
                     if (!*host->alive || host->view == nullptr) {
                       return FALSE;
                     }
                     host->receive(message, reply);
                     return TRUE;
                   }),
                   this);
  webkit_user_content_manager_register_script_message_handler_with_reply(content.get(), "muvra",
                                                                         nullptr);

  view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context.get(),
                                 "user-content-manager", content.get(), nullptr));
  if (view == nullptr) {
    reportFailure("Get browser view", kFailed);
    return;
  }
  WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view));
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  // A small, still page: drawn without a GL context, the web process needs no GL renderer (about
  // 60 MiB less at rest) and draws no slower.
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  GdkRGBA background{11 / 255.0, 9 / 255.0, 12 / 255.0, 1.0};
  webkit_web_view_set_background_color(WEBKIT_WEB_VIEW(view), &background);

  g_signal_connect(
      view, "decide-policy",
      G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                     Host* host) { return host->decidePolicy(decision, type); }),
      this);
  g_signal_connect(view, "create", G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction*) {
                     return static_cast<GtkWidget*>(nullptr);
                   }),
                   nullptr);
  g_signal_connect(view, "permission-request",
                   G_CALLBACK(+[](WebKitWebView*, WebKitPermissionRequest* request) {
                     webkit_permission_request_deny(request);
                     return TRUE;
                   }),
                   nullptr);
  g_signal_connect(view, "context-menu", G_CALLBACK(+[] { return TRUE; }), nullptr);
  g_signal_connect(view, "script-dialog", G_CALLBACK(+[] { return TRUE; }), nullptr);
  g_signal_connect(view, "key-press-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEventKey* key) -> gboolean {
                     const bool control = (key->state & GDK_CONTROL_MASK) != 0;
                     const guint value = gdk_keyval_to_lower(key->keyval);
                     return key->keyval == GDK_KEY_F5 || key->keyval == GDK_KEY_F12 ||
                            (control && (value == GDK_KEY_r || value == GDK_KEY_f ||
                                         value == GDK_KEY_p || value == GDK_KEY_g));
                   }),
                   nullptr);
  g_signal_connect(view, "load-changed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, Host* host) {
                     host->loadChanged(event);
                   }),
                   this);
  g_signal_connect(view, "load-failed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char*, GError*, Host* host) {
                     host->loadFailed = true;
                     host->startup.statusText = "The embedded interface could not load.";
                     host->showSplash();
                     return TRUE;
                   }),
                   this);
  // A web process that crashed or ran out of memory left an empty view: the page is loaded again
  // in a new one. (Ended by the program itself, it is being torn down.)
  g_signal_connect(
      view, "web-process-terminated",
      G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, Host* host) {
        if (reason != WEBKIT_WEB_PROCESS_TERMINATED_BY_API && !host->startup.closing) {
          host->navigate(host->startPage);
        }
      }),
      this);
  gtk_stack_add_named(GTK_STACK(stack), view, "view");
  gtk_widget_show(view);
  gtk_stack_set_visible_child(GTK_STACK(stack), splash);
  navigate(startPage);
}

void WebWindow::Host::navigate(const std::string& page) {
  startPage = page;
  if (view != nullptr) {
    ready = false;
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), (interfaceOrigin() + page).c_str());
  }
}

void WebWindow::Host::loadChanged(WebKitLoadEvent event) {
  // Every load starts afresh, whoever began it; a failed one also finishes, and its text stays
  // on the splash.
  if (event == WEBKIT_LOAD_STARTED) {
    loadFailed = false;
  }
  if (event != WEBKIT_LOAD_FINISHED || loadFailed) {
    return;
  }
  startup.statusText.clear();
  ready = true;
  logStartupStage(startup, "Ready", 0);
  gtk_stack_set_visible_child(GTK_STACK(stack), view);
  if (onReady) {
    onReady();
  }
}

gboolean WebWindow::Host::decidePolicy(WebKitPolicyDecision* decision,
                                       WebKitPolicyDecisionType type) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (uri == nullptr || !isAllowedNavigation(uri)) {
      webkit_policy_decision_ignore(decision);
      return TRUE;
    }
  }
  return FALSE;
}

void WebWindow::Host::serve(WebKitURISchemeRequest* request) {
  const char* uri = webkit_uri_scheme_request_get_uri(request);
  const ResourceResponse answer = respondToRequest(uri != nullptr ? uri : "");
  GInputStream* body =
      g_memory_input_stream_new_from_data(answer.body.data(), answer.body.size(), nullptr);
  WebKitURISchemeResponse* response =
      webkit_uri_scheme_response_new(body, static_cast<gint64>(answer.body.size()));
  webkit_uri_scheme_response_set_status(response, static_cast<guint>(answer.status),
                                        answer.reason.c_str());
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  std::string_view lines = answer.headers;
  while (!lines.empty()) {
    const std::size_t end = std::min(lines.find("\r\n"), lines.size());
    const std::string_view line = lines.substr(0, end);
    const std::size_t colon = line.find(": ");
    soup_message_headers_append(headers, std::string(line.substr(0, colon)).c_str(),
                                std::string(line.substr(colon + 2)).c_str());
    lines.remove_prefix(std::min(lines.size(), end + 2));
  }
  const std::string_view type = answer.headers.substr(14, answer.headers.find(';') - 14);
  webkit_uri_scheme_response_set_content_type(response, std::string(type).c_str());
  webkit_uri_scheme_response_set_http_headers(response, headers);
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(body);
}

// One request of the page. The bridge answers it, if at all, before it returns: the answer goes
// back as the message's reply; a request it drops is replied to with nothing.
void WebWindow::Host::receive(JSCValue* message, WebKitScriptMessageReply* reply) {
  char* text = jsc_value_to_string(message);
  const char* uri = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(view));
  answering = {reply, jsc_value_get_context(message)};
  bridge.onWebMessage(uri != nullptr ? std::optional<std::string_view>(uri) : std::nullopt,
                      text != nullptr ? std::optional<std::string_view>(text) : std::nullopt);
  g_free(text);
  if (answering.reply != nullptr) {
    JSCValue* nothing = jsc_value_new_undefined(answering.context);
    webkit_script_message_reply_return_value(reply, nothing);
    g_object_unref(nothing);
  }
  answering = {};
}

void WebWindow::Host::postToPage(const std::string& text) {
  if (view == nullptr || startup.closing) {
    if (answering.reply != nullptr) {
      webkit_script_message_reply_return_error_message(answering.reply, "The window is closing.");
      answering = {};
    }
    return;
  }
  if (answering.reply != nullptr) {
    JSCValue* answer = jsc_value_new_string(answering.context, text.c_str());
    webkit_script_message_reply_return_value(answering.reply, answer);
    g_object_unref(answer);
    answering = {};
    return;
  }
  const std::string script = "window.__muvraDeliver(" + text + ");";
  webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), script.c_str(),
                                      static_cast<gssize>(script.size()), nullptr, nullptr, nullptr,
                                      nullptr, nullptr);
}

WebWindow::WebWindow() : host_(std::make_unique<Host>(*this)) {}

WebWindowHostBase& WebWindow::base() const {
  return *host_;
}

WebWindow::~WebWindow() = default;

bool WebWindow::open(const std::string& startPage) {
  host_->startPage = startPage;
  if (!host_->createWindow()) {
    return false;
  }
  if (!testMode || startupTest) {
    gtk_widget_show_all(host_->window);
  } else {
    gtk_widget_show_all(host_->stack);
  }
  host_->startBrowser();
  return true;
}

void WebWindow::executeScript(const std::string& script) {
  if (host_->view != nullptr) {
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(host_->view), script.c_str(),
                                        static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  }
}

void WebWindow::capture(const std::filesystem::path& file, std::function<void(bool)> done) {
  if (host_->window != nullptr && !gtk_widget_get_visible(host_->window)) {
    gtk_widget_show_all(host_->window);
  }
  if (host_->view == nullptr) {
    done(false);
    return;
  }
  struct Pending {
    std::string file;
    std::function<void(bool)> done;
  };
  webkit_web_view_get_snapshot(
      WEBKIT_WEB_VIEW(host_->view), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE,
      nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
        cairo_surface_t* surface =
            webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
        bool written = false;
        if (surface != nullptr) {
          written =
              cairo_surface_write_to_png(surface, pending->file.c_str()) == CAIRO_STATUS_SUCCESS;
          cairo_surface_destroy(surface);
        }
        pending->done(written);
      },
      new Pending{pathToUtf8(file), std::move(done)});
}

// One timer wakes the loop at the deadline; nothing else is due at rest.
void WebWindow::waitForEvents(std::optional<std::uint64_t> deadline) {
  if (deadline && host_->deadlineTimer == nullptr) {
    const std::uint64_t now = tickMilliseconds();
    host_->deadlineTimer =
        g_timeout_source_new(static_cast<guint>(*deadline > now ? *deadline - now : 0));
    g_source_set_callback(
        host_->deadlineTimer, +[](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr,
        nullptr);
    g_source_attach(host_->deadlineTimer, nullptr);
  }
  g_main_context_iteration(nullptr, TRUE);
}

void WebWindow::processEvents() {
  Host::processEvents();
}

}  // namespace muvra
