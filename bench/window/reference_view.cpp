// The peer of the idle-CPU benchmark: the smallest GTK 3 + WebKitGTK program that shows one static
// page. Prints "READY" once the page has loaded. With --polling it runs the launcher's loop (drain
// the main context, sleep 10 ms) instead of gtk_main, to show what that loop alone costs.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

bool windowOpen = true;

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
  GtkWidget* view = webkit_web_view_new();
  gtk_container_add(GTK_CONTAINER(window), view);
  g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event) {
                     if (event == WEBKIT_LOAD_FINISHED) {
                       std::puts("READY");
                       std::fflush(stdout);
                     }
                   }),
                   nullptr);
  const bool polling = argc > 1 && std::strcmp(argv[1], "--polling") == 0;
  g_signal_connect(window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer) {
                     windowOpen = false;
                     if (gtk_main_level() > 0) {
                       gtk_main_quit();
                     }
                   }),
                   nullptr);
  webkit_web_view_load_html(WEBKIT_WEB_VIEW(view),
                            "<!doctype html><html><body style='background:#0b090c;color:#eee6ec'>"
                            "<h1>Reference</h1><p>One static page.</p></body></html>",
                            nullptr);
  gtk_widget_show_all(window);
  if (polling) {
    runPolling();
  } else {
    gtk_main();
  }
  return 0;
}
