// Opens the real launcher window in preview mode and runs a probe in each page it loads: new
// windows, permissions and navigations the page must not get, then the one allowed navigation,
// whose first attempt the probe stops. Prints each finding as one JSON line; ends after "done",
// when the window closes, or after 90 s; after "done" it waits for its input to close.
#include <webkit2/webkit2.h>

#include <chrono>
#include <iostream>
#include <limits>
#include <memory>
#include <thread>

#include "launcher/web_loader.h"
#include "window/web_window.h"

namespace {

constexpr const char* kProbeScript = R"JS((async function () {
  var report = function () { return window.muvra.call('probe_report', Array.from(arguments)); };
  var origin = location.href.replace(/[^/]*$/, '');
  if (location.href === origin + 'index.html') {
    await report('arrived', location.href);
    await report('done');
    return;
  }
  // Whether the page was left within the observation window (the allowed navigation at the
  // end shows how quickly leaving is seen).
  var attempt = function (target) {
    return new Promise(function (resolve) {
      var left = function () { resolve(true); };
      addEventListener('pagehide', left, { once: true });
      location.href = target;
      setTimeout(function () { removeEventListener('pagehide', left); resolve(false); }, 1500);
    });
  };
  await report('window.open', window.open(origin + 'index.html') === null);
  await report('notification', await Notification.requestPermission());
  await report('geolocation', await new Promise(function (resolve) {
    navigator.geolocation.getCurrentPosition(function () { resolve('granted'); },
                                             function (error) { resolve(error.code); });
  }));
  for (var target of ['https://example.com/', origin + 'secret.html', 'file:///etc/hostname',
                      'muvra-ui://other.invalid/loader.html', origin + 'loader.html?x=1']) {
    await report('navigate', target, await attempt(target));
  }
  var clicked = new Promise(function (resolve) {
    addEventListener('contextmenu', function () { setTimeout(resolve, 0); }, { once: true });
  });
  await report('right-click now');
  await clicked;
  await report('contextmenu');
  await report('stop the next load');
  location.href = origin + 'index.html';
})();)JS";

constexpr const char* kNavigateAgain =
    "location.href = location.href.replace(/[^/]*$/, 'index.html');";

// The browser view inside the launcher's window.
WebKitWebView* findView(GtkWidget* widget) {
  if (WEBKIT_IS_WEB_VIEW(widget)) {
    return WEBKIT_WEB_VIEW(widget);
  }
  WebKitWebView* found = nullptr;
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* child = children; child != nullptr && found == nullptr; child = child->next) {
      found = findView(GTK_WIDGET(child->data));
    }
    g_list_free(children);
  }
  return found;
}

WebKitWebView* launcherView() {
  GList* windows = gtk_window_list_toplevels();
  WebKitWebView* found = nullptr;
  for (GList* window = windows; window != nullptr && found == nullptr; window = window->next) {
    found = findView(GTK_WIDGET(window->data));
  }
  g_list_free(windows);
  return found;
}

// Stops the page's next load as soon as it starts, as a failed load, then has the page begin it
// again by itself: the launcher must show the page that then loads.
struct LoadStopper {
  muvra::WebWindow& window;
  enum { kIdle, kArmed, kStopping } step = kIdle;

  void arm() {
    step = kArmed;
    g_signal_connect(launcherView(), "load-changed",
                     G_CALLBACK(+[](WebKitWebView* view, WebKitLoadEvent event, LoadStopper* self) {
                       self->loadChanged(view, event);
                     }),
                     this);
  }

  void loadChanged(WebKitWebView* view, WebKitLoadEvent event) {
    if (step == kArmed && event == WEBKIT_LOAD_STARTED) {
      step = kStopping;
      webkit_web_view_stop_loading(view);
    } else if (step == kStopping && event == WEBKIT_LOAD_FINISHED) {
      step = kIdle;
      std::cout << R"(["load stopped"])" << std::endl;
      window.executeScript(kNavigateAgain);
    }
  }
};

}  // namespace

int main() {
  auto owned = std::make_unique<muvra::WebWindow>();
  muvra::WebWindow& window = *owned;
  muvra::WebLoader loader(std::move(owned));
  loader.preview = true;
  if (!loader.create()) {
    std::cerr << window.startupSummary() << '\n';
    return 1;
  }
  window.setOnReady([&window] { window.executeScript(kProbeScript); });
  bool done = false;
  LoadStopper stopper{window};
  const muvra::Dispatcher held = window.dispatcher();
  window.setDispatcher(
      [&](std::int32_t id, const std::string& method, const nlohmann::json& params) {
        if (method != "probe_report") {
          held(id, method, params);
          return;
        }
        const nlohmann::json finding = params.empty() ? nlohmann::json() : params[0];
        std::cout << finding.dump() << std::endl;
        window.replyResult(id, true);
        done = finding == nlohmann::json::array({"done"});
        if (finding == nlohmann::json::array({"stop the next load"})) {
          stopper.arm();
        }
      });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  while (!window.closing() && !done && std::chrono::steady_clock::now() < deadline) {
    window.processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  loader.shutdown();
  if (done) {
    // Stays, with its display, until the test has finished looking and closes the input.
    std::cin.ignore(std::numeric_limits<std::streamsize>::max());
  }
  return done ? 0 : 1;
}
