// The peers of the window benchmark: the smallest GTK 3 + WebKitGTK program that shows one static
// page, on gtk_main. Prints "READY" once the page has loaded. With --polling it runs the launcher's
// old loop (drain the main context, sleep 10 ms) instead, to show what such a loop alone costs.
// With --bridge the page asks the program for a state every 350 ms, one request at a time, and the
// program answers at once: the least the launcher's polling page can cost.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

bool windowOpen = true;

constexpr const char* kPollingPage = R"HTML(<!doctype html><html>
<body style='background:#0b090c;color:#eee6ec'><h1>Reference</h1><p id=state>Polling.</p>
<script>
var inFlight = false;
setInterval(function () {
  if (inFlight) return;
  inFlight = true;
  window.webkit.messageHandlers.reference.postMessage(
      JSON.stringify({ id: 1, method: 'get_loader_state', params: [] })).then(function (reply) {
    var state = JSON.parse(reply).result;
    var text = state.phase;
    var shown = document.getElementById('state');
    if (shown.textContent !== text) shown.textContent = text;
    inFlight = false;
  });
}, 350);
</script></body></html>)HTML";

constexpr const char* kStaticPage =
    "<!doctype html><html><body style='background:#0b090c;color:#eee6ec'>"
    "<h1>Reference</h1><p>One static page.</p></body></html>";

// Answers every request with the same state, as a launcher at rest would.
gboolean answer(WebKitUserContentManager*,
                JSCValue* request,
                WebKitScriptMessageReply* reply,
                gpointer) {
  JSCValue* state = jsc_value_new_string(
      jsc_value_get_context(request),
      R"({"id":1,"result":{"busy":false,"canLaunch":true,"phase":"ready","progress":100}})");
  webkit_script_message_reply_return_value(reply, state);
  g_object_unref(state);
  return TRUE;
}

void runPolling() {
  while (windowOpen) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 540, 650);
  const bool polling = argc > 1 && std::strcmp(argv[1], "--polling") == 0;
  const bool bridge = argc > 1 && std::strcmp(argv[1], "--bridge") == 0;
  WebKitUserContentManager* content = webkit_user_content_manager_new();
  if (bridge) {
    g_signal_connect(content, "script-message-with-reply-received::reference", G_CALLBACK(answer),
                     nullptr);
    webkit_user_content_manager_register_script_message_handler_with_reply(content, "reference",
                                                                           nullptr);
  }
  GtkWidget* view = webkit_web_view_new_with_user_content_manager(content);
  g_object_unref(content);  // the view holds it
  gtk_container_add(GTK_CONTAINER(window), view);
  g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event) {
                     if (event == WEBKIT_LOAD_FINISHED) {
                       std::puts("READY");
                       std::fflush(stdout);
                     }
                   }),
                   nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer) {
                     windowOpen = false;
                     if (gtk_main_level() > 0) {
                       gtk_main_quit();
                     }
                   }),
                   nullptr);
  webkit_web_view_load_html(WEBKIT_WEB_VIEW(view), bridge ? kPollingPage : kStaticPage, nullptr);
  gtk_widget_show_all(window);
  if (polling) {
    runPolling();
  } else {
    gtk_main();
  }
  return 0;
}
