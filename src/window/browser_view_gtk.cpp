// The view: its bridge script, the handlers of its requests, navigations and loads, and the
// page's messages both ways.
#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <cerrno>
#include <string_view>

#include "launcher/bridge.h"
#include "launcher/interface_files.h"
#include "window/startup.h"
#include "window/web_window.h"
#include "window/web_window_gtk_host.h"
#include "window/web_window_host.h"
#include "window/window_frame_gtk.h"

namespace muvra {

namespace {

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

}  // namespace

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

}  // namespace muvra
