#include "window/web_window.h"

#include "window/web_window_host.h"

namespace muvra {

void WebWindow::setOnClose(std::function<void()> onClose) {
  base().onClose = std::move(onClose);
}

void WebWindow::setDispatcher(Dispatcher dispatcher) {
  base().bridge.setDispatcher(std::move(dispatcher));
}

const Dispatcher& WebWindow::dispatcher() const {
  return base().bridge.dispatcher();
}

void WebWindow::setOnReady(std::function<void()> onReady) {
  base().onReady = std::move(onReady);
}

void WebWindow::replyResult(std::int32_t id, const nlohmann::json& result) {
  base().bridge.replyResult(id, result);
}

void WebWindow::replySerializedResult(std::int32_t id, std::string_view result) {
  base().bridge.replySerializedResult(id, result);
}

bool WebWindow::closing() const {
  return base().startup.closing;
}

bool WebWindow::startupFailed() const {
  return base().failedForGood;
}

unsigned WebWindow::attempt() const {
  return base().startup.attempt;
}

std::string WebWindow::startupSummary() const {
  return muvra::startupSummary(base().startup);
}

}  // namespace muvra
