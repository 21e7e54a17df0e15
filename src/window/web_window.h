#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "launcher/launcher_window.h"

namespace muvra {

struct WebWindowHostBase;

// The launcher window and its browser view. One per run; lives on the main thread.
class WebWindow : public LauncherWindow {
 public:
  WebWindow();
  ~WebWindow() override;
  WebWindow(const WebWindow&) = delete;
  WebWindow& operator=(const WebWindow&) = delete;

  void setOnClose(std::function<void()> onClose) override;
  void setDispatcher(Dispatcher dispatcher) override;
  bool open(const std::string& startPage) override;
  void replyResult(std::int32_t id, const nlohmann::json& result) override;
  void replySerializedResult(std::int32_t id, std::string_view result) override;

  const Dispatcher& dispatcher() const;
  void setOnReady(std::function<void()> onReady);
  // Runs a script in the current page, without waiting for it.
  void executeScript(const std::string& script);
  // Writes the visible page as a PNG file; `done` is called exactly once.
  void capture(const std::filesystem::path& file, std::function<void(bool)> done);
  // Handles every waiting event of the window's thread.
  void processEvents();
  // The run loop's step: handles events, waiting for one first. Linux sleeps in the main context
  // until one comes or `deadline` (a tickMilliseconds() value) passes; Windows drains its queue
  // and sleeps 10 ms.
  void waitForEvents(std::optional<std::uint64_t> deadline);

  bool closing() const;
  // The start-up has failed for good: no restart is coming and no page will load.
  bool startupFailed() const;
  unsigned attempt() const;
  std::string startupSummary() const;

  bool recoveryTest = false;
  bool startupTest = false;
  bool testMode = false;

 private:
  struct Host;                      // the platform's window, view and start-up
  WebWindowHostBase& base() const;  // the part of Host both platforms share
  std::unique_ptr<Host> host_;
};

}  // namespace muvra
