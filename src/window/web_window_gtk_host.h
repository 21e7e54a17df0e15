// The WebKitGTK host of the Linux window: the window (web_window_gtk.cpp), the browser's start-up
// and recovery (browser_startup_gtk.cpp), and the view with its handlers (browser_view_gtk.cpp).
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "window/web_window.h"
#include "window/web_window_host.h"
#include "window/window_frame_gtk.h"

namespace muvra {

inline constexpr const char* kScheme = "muvra-ui";
inline constexpr std::uint32_t kFailed = 0x80004005;

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

}  // namespace muvra
