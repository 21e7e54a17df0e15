#pragma once

#include <functional>
#include <string>

#include "base/process.h"
#include "launcher/bridge.h"
#include "window/startup.h"

namespace muvra {

// What each browser host keeps about its window whatever the platform; the platform's host
// derives from it and the portable half of WebWindow reads it.
struct WebWindowHostBase {
  explicit WebWindowHostBase(BridgeHost::Window actions) : bridge(std::move(actions)) {
    startup.executable = modulePath();
    startup.lastStage = "Waiting";
  }

  BridgeHost bridge;
  StartupState startup;
  std::string startPage = "loader.html";
  std::function<void()> onClose;
  std::function<void()> onReady;
  bool failedForGood = false;  // no restart is coming and no page will load
};

}  // namespace muvra
