// Opens the real launcher window in preview mode and runs a probe in each page it loads: new
// windows, permissions and navigations the page must not get, then the one allowed navigation.
// Prints each finding as one JSON line; ends after "done" or when the window closes.
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "web/web_loader.h"
#include "web/web_window.h"

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
  location.href = origin + 'index.html';
})();)JS";

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
      });
  while (!window.closing() && !done) {
    window.processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  loader.shutdown();
  return 0;
}
