#include <cairo.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string_view>

#include "base/path_text.h"
#include "base/process.h"
#include "window/startup.h"
#include "window/web_window.h"
#include "window/web_window_gtk_host.h"
#include "window/web_window_host.h"
#include "window/window_frame_gtk.h"

namespace muvra {

namespace {

constexpr int kWidth = 540;
constexpr int kHeight = 650;
constexpr int kMinimumWidth = 430;
constexpr int kMinimumHeight = 510;
constexpr int kSplashMargin = 35;

}  // namespace

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
