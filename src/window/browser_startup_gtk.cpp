// The browser's start-up, its stages and its recovery: a failed start is tried once more on a
// profile of its own; the content filter is compiled, or taken from the profile, before the view.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string_view>

#include "base/failure.h"
#include "base/path_text.h"
#include "update/profile.h"
#include "window/startup.h"
#include "window/web_window.h"
#include "window/web_window_gtk_host.h"
#include "window/web_window_host.h"
#include "window/window_frame_gtk.h"

namespace muvra {

void WebWindow::Host::reportFailure(std::string_view stage, std::uint32_t code) {
  const StartupOutcome outcome = reportStartupFailure(startup, stage, code);
  showSplash();
  failedForGood = outcome == StartupOutcome::Failed;
  if (outcome == StartupOutcome::Restart) {
    if (restartSource != 0) {
      return;
    }
    restartSource = g_idle_add_full(
        G_PRIORITY_DEFAULT,
        +[](gpointer data) -> gboolean {
          Host* host = static_cast<Host*>(data);
          host->restartSource = 0;
          host->restart();
          return G_SOURCE_REMOVE;
        },
        this, nullptr);
  }
}

void WebWindow::Host::restart() {
  if (startup.closing || window == nullptr) {
    return;
  }
  if (view != nullptr) {
    gtk_widget_destroy(view);
    view = nullptr;
  }
  content.reset();
  context.reset();
  ready = false;
  startBrowser();
}

void WebWindow::Host::startBrowser() {
  std::optional<std::uint32_t> folderFailure;
  try {
    folderFailure = createProfileFolder(startup);
  } catch (const std::exception& failure) {
    failedForGood = true;
    startup.statusText = failure.what();
    showSplash();
    return;
  }
  if (folderFailure) {
    reportFailure("Create profile folder", *folderFailure);
    return;
  }

  logStartupStage(startup, "Create environment", 0);
  const std::string folder = pathToUtf8(startup.profileFolder);
  GObjectRef<WebKitWebsiteDataManager> storage(webkit_website_data_manager_new(
      "base-data-directory", folder.c_str(), "base-cache-directory", folder.c_str(), nullptr));
  context.reset(webkit_web_context_new_with_website_data_manager(storage.get()));
  if (!context) {
    reportFailure("Create environment callback", kFailed);
    return;
  }
  webkit_web_context_register_uri_scheme(
      context.get(), kScheme,
      +[](WebKitURISchemeRequest* request, gpointer data) {
        static_cast<Host*>(data)->serve(request);
      },
      this, nullptr);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context.get());
  webkit_security_manager_register_uri_scheme_as_secure(security, kScheme);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kScheme);
  createController();
}

// The content filter that refuses every request outside the interface scheme. Compiling it
// takes the network process a while, so the compiled filter is kept in the profile under a name
// made of the rules' SHA-256, and compiled only when no file of the user's own compiled from
// these rules is there yet.
namespace {

constexpr const char* kFilterRules =
    R"([{"trigger":{"url-filter":".*"},"action":{"type":"block"}},)"
    R"({"trigger":{"url-filter":"^muvra-ui:"},"action":{"type":"ignore-previous-rules"}}])";

std::string filterIdentifier() {
  gchar* digest = g_compute_checksum_for_string(G_CHECKSUM_SHA256, kFilterRules, -1);
  std::string identifier = std::string("interface-only-") + digest;
  g_free(digest);
  return identifier;
}

// WebKit keeps the rules a filter was compiled from in its file, beside the compiled form.
bool isCompiledFromTheRules(const std::filesystem::path& store) {
  const std::filesystem::path file = store / ("ContentRuleList-" + filterIdentifier());
  struct stat status {};
  if (::lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_uid != ::geteuid()) {
    return false;
  }
  std::ifstream compiled(file, std::ios::binary);
  const std::string content{std::istreambuf_iterator<char>(compiled), {}};
  return content.find(kFilterRules) != std::string::npos;
}

}  // namespace

// A step of the filter's start-up: the store it works on and the host, if still there.
struct WebWindow::Host::FilterStep {
  std::weak_ptr<bool> alive;
  Host* host;
  GObjectRef<WebKitUserContentFilterStore> store;

  Host* living() const {
    const std::shared_ptr<bool> flag = alive.lock();
    return flag && *flag ? host : nullptr;
  }
};

void WebWindow::Host::createController() {
  logStartupStage(startup, "Create controller", 0);
  if (owner.recoveryTest && startup.attempt == 0) {
    reportFailure("Create controller callback", kFailed);
    return;
  }
  const std::filesystem::path folder = startup.profileFolder / "content-filters";
  auto* step =
      new FilterStep{alive, this,
                     GObjectRef<WebKitUserContentFilterStore>(
                         webkit_user_content_filter_store_new(pathToUtf8(folder).c_str()))};
  if (!isCompiledFromTheRules(folder)) {
    std::error_code ignored;
    std::filesystem::remove(folder / ("ContentRuleList-" + filterIdentifier()), ignored);
    compileFilter(std::unique_ptr<FilterStep>(step));
    return;
  }
  webkit_user_content_filter_store_load(
      step->store.get(), filterIdentifier().c_str(), nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<FilterStep> loaded(static_cast<FilterStep*>(data));
        WebKitUserContentFilter* filter = webkit_user_content_filter_store_load_finish(
            WEBKIT_USER_CONTENT_FILTER_STORE(source), result, nullptr);
        if (filter != nullptr) {
          if (Host* host = loaded->living()) {
            host->controllerReady(filter, nullptr);
          }
          webkit_user_content_filter_unref(filter);
        } else if (loaded->living() != nullptr) {
          compileFilter(std::move(loaded));
        }
      },
      step);
}

void WebWindow::Host::compileFilter(std::unique_ptr<FilterStep> step) {
  GBytes* rules = g_bytes_new_static(kFilterRules, std::strlen(kFilterRules));
  WebKitUserContentFilterStore* store = step->store.get();
  webkit_user_content_filter_store_save(
      store, filterIdentifier().c_str(), rules, nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<FilterStep> saved(static_cast<FilterStep*>(data));
        GError* error = nullptr;
        WebKitUserContentFilter* filter = webkit_user_content_filter_store_save_finish(
            WEBKIT_USER_CONTENT_FILTER_STORE(source), result, &error);
        if (Host* host = saved->living()) {
          host->controllerReady(filter, error);
        }
        if (filter != nullptr) {
          webkit_user_content_filter_unref(filter);
        }
        if (error != nullptr) {
          g_error_free(error);
        }
      },
      step.release());
  g_bytes_unref(rules);
}

void WebWindow::Host::controllerReady(WebKitUserContentFilter* filter, GError* error) {
  if (filter == nullptr || error != nullptr) {
    reportFailure("Create controller callback", kFailed);
    return;
  }
  createView(filter);
}

}  // namespace muvra
