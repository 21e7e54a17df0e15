// The peer of the idle-CPU benchmark: the smallest GTK 3 + WebKitGTK program that shows one static
// page. Prints "READY" once the page has loaded.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>

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
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  webkit_web_view_load_html(WEBKIT_WEB_VIEW(view),
                            "<!doctype html><html><body style='background:#0b090c;color:#eee6ec'>"
                            "<h1>Reference</h1><p>One static page.</p></body></html>",
                            nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
