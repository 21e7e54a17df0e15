#include "launcher/web_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <vector>

#include "base/failure.h"
#include "base/path_text.h"
#include "base/process.h"
#include "net/https_client.h"
#include "proof/publisher_signature.h"
#include "support/allocation_faults.h"
#include "support/case_name.h"
#include "support/fake_github.h"
#include "support/install_faults.h"
#include "support/launch_recorder.h"
#include "support/launch_records.h"
#include "support/signing_fixtures.h"
#include "support/temporary_folder.h"
#include "support/windows_program.h"
#include "update/release.h"
#include "update/release_record.h"

namespace muvra {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::readFile;
using testing::writeFile;

// The window as the controller sees it: records what was installed and every reply.
class RecordingWindow : public LauncherWindow {
 public:
  void setOnClose(std::function<void()> close) override { onClose = std::move(close); }
  void setDispatcher(Dispatcher installed) override { dispatcher = std::move(installed); }
  bool open(const std::string& page) override {
    startPage = page;
    return true;
  }
  void replyResult(std::int32_t id, const json& result) override {
    replies.emplace_back(id, result);
  }
  void replySerializedResult(std::int32_t id, std::string_view result) override {
    replies.emplace_back(id, json::parse(result));
  }

  std::function<void()> onClose;
  Dispatcher dispatcher;
  std::string startPage;
  std::vector<std::pair<std::int32_t, json>> replies;
};

class WebLoaderTest : public ::testing::Test {
 public:
  WebLoaderTest() {
    auto recording = std::make_unique<RecordingWindow>();
    window = recording.get();
    loader = std::make_unique<WebLoader>(std::move(recording));
    layout = layoutBeside(folder / "MuvraLoader.exe");
    EXPECT_TRUE(loader->create(layout));
  }

  // Serves `asset` as the latest release `tag`; `asset` overrides the asset route's members.
  void publish(const std::string& tag,
               const std::string& asset,
               const json& assetRoute = json::object(),
               const json& releaseChanges = json::object()) {
    const fs::path served = folder / ("served-" + tag);
    writeFile(served, asset);
    routes = testing::releaseRoutes(tag, asset.size(), testing::sha256Hex(asset), served,
                                    assetRoute, releaseChanges);
    github.setRoutes(routes);
  }

  json call(const std::string& method) {
    window->replies.clear();
    window->dispatcher(nextId++, method, json::array());
    EXPECT_EQ(window->replies.size(), 1u);
    return window->replies.empty() ? json() : window->replies.back().second;
  }

  std::string refusal(const std::string& method) {
    try {
      call(method);
    } catch (const OperationFailure& failure) {
      return failure.what();
    }
    return "(accepted)";
  }

  // Polls the state, as the page does (without its automatic first check), until the operation
  // has ended; the phases seen, in order.
  std::vector<std::string> awaitIdle(const std::function<void(const json&)>& onPoll = {},
                                     std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::vector<std::string> phases;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const json state = loader->state();
      if (phases.empty() || phases.back() != state["phase"]) {
        phases.push_back(state["phase"]);
      }
      if (onPoll) {
        onPoll(state);
      }
      if (!state["busy"].get<bool>() || std::chrono::steady_clock::now() > deadline) {
        return phases;
      }
      std::this_thread::yield();
    }
  }

  std::vector<std::string> checkAndWait() {
    call("check_update");
    return awaitIdle();
  }

  std::string partFiles() const {
    std::string names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(layout.executablePath.parent_path(), error)) {
      if (entry.path().extension() == ".part") {
        names += pathToUtf8(entry.path().filename()) + " ";
      }
    }
    return names;
  }

  std::size_t assetRequests() const {
    std::size_t count = 0;
    for (const json& request : github.requests()) {
      count += request["path"].get<std::string>().find("/releases/download/") != std::string::npos;
    }
    return count;
  }

  void installOld() {
    fs::create_directories(layout.executablePath.parent_path());
    writeFile(layout.executablePath, kInstalled);
  }

  static inline const std::string kFirst = testing::windowsProgram(300000, '1');
  static inline const std::string kSecond = testing::windowsProgram(200000, '2');
  static inline const std::string kInstalled = testing::windowsProgram(5000, 'o');

  testing::FakeGitHub github;
  testing::TemporaryFolder folder;
  InstallLayout layout;
  RecordingWindow* window = nullptr;
  std::unique_ptr<WebLoader> loader;
  json routes;
  std::int32_t nextId = 1;
};

TEST_F(WebLoaderTest, ConstructionStateAndCreate) {
  EXPECT_EQ(window->startPage, "loader.html");
  EXPECT_EQ(loader->state(), json({{"phase", "idle"},
                                   {"message", "Check for the latest verified Muvra release."},
                                   {"latestVersion", ""},
                                   {"progress", 0},
                                   {"downloaded", 0},
                                   {"total", 0},
                                   {"canLaunch", false},
                                   {"busy", false}}));
  window->onClose();
  EXPECT_TRUE(loader->cancelFlag.isSet());
}

TEST_F(WebLoaderTest, NothingStartsOnceTheWindowIsClosing) {
  publish("v1", kFirst);
  window->onClose();
  EXPECT_EQ(call("get_loader_state")["phase"], "idle");
  EXPECT_EQ(refusal("check_update"), "The launcher is closing.");
  EXPECT_EQ(refusal("launch_app"), "The launcher is closing.");
  EXPECT_TRUE(loader->cancelFlag.isSet());
  EXPECT_FALSE(loader->state()["busy"].get<bool>());
  EXPECT_TRUE(github.requests().empty());
}

TEST_F(WebLoaderTest, FirstStateRequestStartsTheOnlyAutomaticCheck) {
  publish("v1", kFirst, {{"mode", "gate"}, {"gate", pathToUtf8(folder / "open")}});
  const json first = call("get_loader_state");
  EXPECT_TRUE(first["busy"].get<bool>());
  EXPECT_EQ(first["phase"], "checking");
  EXPECT_EQ(first["loaderVersion"], "2.5");
  EXPECT_FALSE(loader->state().contains("loaderVersion"));
  EXPECT_EQ(refusal("check_update"), "An operation is still running.");
  writeFile(folder / "open", "");
  EXPECT_EQ(awaitIdle().back(), "ready");
  EXPECT_EQ(call("get_loader_state")["phase"], "ready");
  EXPECT_EQ(assetRequests(), 1u);
  EXPECT_EQ(github.requests().size(), 2u) << "a later state request started another check";
}

TEST_F(WebLoaderTest, CheckBeforeTheFirstStateRequestLeavesTheAutomaticCheckToCome) {
  publish("v1", kFirst);
  checkAndWait();
  const json state = call("get_loader_state");
  EXPECT_EQ(state["phase"], "checking");
  awaitIdle();
}

TEST_F(WebLoaderTest, NothingInstalledDownloadsProvesAndInstalls) {
  publish("v1", kFirst);
  std::int64_t lastProgress = 0;
  call("check_update");
  const std::vector<std::string> phases = awaitIdle([&](const json& state) {
    if (state["phase"] == "downloading") {
      const std::int64_t progress = state["progress"];
      EXPECT_GE(progress, lastProgress);
      EXPECT_LE(progress, 95);
      EXPECT_EQ(state["downloaded"].get<std::uint64_t>() * 95 / kFirst.size(),
                static_cast<std::uint64_t>(progress));
      EXPECT_FALSE(state["canLaunch"].get<bool>());
      lastProgress = progress;
    }
  });
  std::vector<std::string> expected = {"checking", "downloading", "verifying", "ready"};
  std::erase_if(expected, [&](const std::string& phase) {
    return phase != "ready" && std::find(phases.begin(), phases.end(), phase) == phases.end();
  });
  EXPECT_EQ(phases, expected);
  const json state = loader->state();
  EXPECT_EQ(state["progress"], 100);
  EXPECT_EQ(state["downloaded"], kFirst.size());
  EXPECT_EQ(state["total"], kFirst.size());
  EXPECT_EQ(state["latestVersion"], "v1");
  EXPECT_EQ(state["message"], "Your latest release is verified. Launch whenever you are ready.");
  EXPECT_TRUE(state["canLaunch"].get<bool>());
  EXPECT_EQ(readFile(layout.executablePath), kFirst);
  EXPECT_EQ(partFiles(), "");
}

TEST_F(WebLoaderTest, SameReleaseAgainNeedsNoDownload) {
  publish("v1", kFirst);
  checkAndWait();
  EXPECT_EQ(checkAndWait(), (std::vector<std::string>{"checking", "ready"}));
  const json state = loader->state();
  EXPECT_EQ(state["downloaded"], 0);
  EXPECT_EQ(state["total"], kFirst.size());
  EXPECT_EQ(assetRequests(), 1u);
  EXPECT_EQ(partFiles(), "");
}

TEST_F(WebLoaderTest, NewReleaseReplacesTheInstalledFile) {
  publish("v1", kFirst);
  checkAndWait();
  publish("v2", kSecond);
  EXPECT_EQ(checkAndWait().back(), "ready");
  EXPECT_EQ(readFile(layout.executablePath), kSecond);
  EXPECT_EQ(loader->state()["latestVersion"], "v2");
  EXPECT_EQ(partFiles(), "");
}

TEST_F(WebLoaderTest, CancelWithoutOperationIsForgottenByTheNextStart) {
  publish("v1", kFirst);
  EXPECT_EQ(call("cancel_update"), true);
  EXPECT_EQ(loader->state()["phase"], "idle");
  EXPECT_EQ(checkAndWait().back(), "ready");
}

#if !defined(_WIN32)
// How a start ended when one of its allocations failed, as a child process's exit code.
enum StartOutcome { kRan = 10, kRestored, kTerminated, kChanged, kBusyForGood };

// Whichever allocation of a start fails, the operation either runs or never began: the page must
// not see a check that is busy for good. Each fault runs in a child process: an allocation that
// fails in a destructor of the JSON library terminates, and the walk goes on past it.
TEST_F(WebLoaderTest, AStartThatRunsOutOfMemoryLeavesTheStateAsItWas) {
  publish("v1", kFirst);
  const json before = loader->state();
  const auto walkOn = [](int outcome) { return outcome == kRestored || outcome == kTerminated; };
  std::vector<int> outcomes;
  for (int nth = 1; outcomes.empty() || walkOn(outcomes.back()); ++nth) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      std::set_terminate([] { std::_Exit(kTerminated); });
      bool struck = false;
      {
        const testing::FailingAllocation fault(nth);
        try {
          window->dispatcher(nextId++, "check_update", json::array());
        } catch (const std::bad_alloc&) {
        }
        struck = fault.struck();
      }
      if (!struck) {
        std::_Exit(kRan);
      }
      if (loader->state()["busy"].get<bool>()) {
        awaitIdle({}, std::chrono::seconds(10));
        std::_Exit(loader->state()["busy"].get<bool>() ? kBusyForGood : kRan);
      }
      std::_Exit(loader->state() == before ? kRestored : kChanged);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    outcomes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status));
  }
  EXPECT_EQ(outcomes.back(), kRan) << "allocation " << outcomes.size();
  EXPECT_GT(std::count(outcomes.begin(), outcomes.end(), kRestored), 0);
}
#endif

TEST_F(WebLoaderTest, UnknownMethodIsRefused) {
  EXPECT_EQ(refusal("minimize_all"), "Unknown launcher action.");
  EXPECT_EQ(refusal("Get_loader_state"), "Unknown launcher action.");
}

// One fault each; the previous installation must survive every one of them.
struct FailureCase {
  const char* name;
  std::function<std::string(WebLoaderTest&)> arrange;  // why the fault cannot be made here
  std::string message;                                 // empty: the platform library's own text
};

MUVRA_PRINTS_CASE_NAME(FailureCase)

class WebLoaderFailureTest : public WebLoaderTest,
                             public ::testing::WithParamInterface<FailureCase> {
 protected:
  void TearDown() override { testing::undoInstallFaults(); }
};

TEST_P(WebLoaderFailureTest, KeepsThePreviousInstallation) {
  installOld();
  publish("v2", kSecond);
  if (const std::string reason = GetParam().arrange(*this); !reason.empty()) {
    GTEST_SKIP() << reason;
  }
  const std::vector<std::string> phases = checkAndWait();
  const json state = loader->state();
  EXPECT_EQ(phases.back(), "error");
  if (GetParam().message.empty()) {
    EXPECT_FALSE(state["message"].get<std::string>().empty());
  } else {
    EXPECT_EQ(state["message"], GetParam().message);
  }
  EXPECT_EQ(state["progress"], 0);
  EXPECT_FALSE(state["canLaunch"].get<bool>());
  EXPECT_FALSE(state["busy"].get<bool>());
  std::error_code error;
  if (fs::is_regular_file(layout.executablePath, error)) {
    EXPECT_EQ(readFile(layout.executablePath), kInstalled);
  }
  EXPECT_EQ(partFiles(), "");
  EXPECT_EQ(refusal("launch_app"), "Verify the latest release first.");
}

std::string served(WebLoaderTest& test, const char* name, const std::string& bytes) {
  writeFile(test.folder / name, bytes);
  return pathToUtf8(test.folder / name);
}

const std::string kIntegrity = "The update failed integrity verification.";

INSTANTIATE_TEST_SUITE_P(
    Faults,
    WebLoaderFailureTest,
    ::testing::Values(
        FailureCase{
            "shortBody",
            [](WebLoaderTest& test) {
              const std::string shorter = WebLoaderTest::kSecond.substr(0, 150000);
              test.publish("v2", test.kSecond, {{"body_file", served(test, "short", shorter)}});
              return "";
            },
            "The update size did not match the release."},
        FailureCase{
            "digestMismatch",
            [](WebLoaderTest& test) {
              const std::string other = testing::windowsProgram(test.kSecond.size(), '3');
              test.publish("v2", test.kSecond, {{"body_file", served(test, "other", other)}});
              return "";
            },
            kIntegrity},
        FailureCase{"validDigestOfNoProgram",
                    [](WebLoaderTest& test) {
                      test.publish("v2", std::string(200000, 'x'));
                      return "";
                    },
                    kIntegrity},
        FailureCase{"assetNotFound",
                    [](WebLoaderTest& test) {
                      test.publish("v2", test.kSecond, {{"status", 404}});
                      return "";
                    },
                    statusFailureSentence(404)},
        FailureCase{"malformedReleaseDocument",
                    [](WebLoaderTest& test) {
                      test.github.setRoutes(
                          {{testing::routeKey(latestReleaseUrl()), {{"body", "{\"tag\":"}}}});
                      return "";
                    },
                    "Windows could not read the GitHub release metadata."},
        FailureCase{"prerelease",
                    [](WebLoaderTest& test) {
                      test.publish("v2", test.kSecond, {}, {{"prerelease", true}});
                      return "";
                    },
                    "A stable published release is required."},
        FailureCase{"appFolderIsAFile",
                    [](WebLoaderTest& test) {
                      fs::remove_all(test.layout.executablePath.parent_path());
                      writeFile(test.layout.executablePath.parent_path(), "not a folder");
                      return "";
                    },
                    ""},
        FailureCase{"folderInsteadOfTheProgram",
                    [](WebLoaderTest& test) {
                      fs::remove(test.layout.executablePath);
                      fs::create_directories(test.layout.executablePath / "inside");
                      return "";
                    },
                    "Something other than a file is at " +
                        pathToUtf8((fs::path("app") / "muvra.exe").make_preferred()) +
                        ". Remove it, then check for updates again."},
        FailureCase{"diskFullWhileWriting",
                    [](WebLoaderTest&) { return testing::limitFileSize(65536); },
                    "Could not save the update. Check disk space."},
        FailureCase{"appFolderNotWritable",
                    [](WebLoaderTest& test) {
                      return testing::makeFolderReadOnly(test.layout.executablePath.parent_path());
                    },
                    "Could not open the update file. Check folder permissions."},
        FailureCase{"moveRefused",
                    [](WebLoaderTest& test) {
                      return testing::keepFromBeingReplaced(test.layout.executablePath,
                                                            test.folder.path());
                    },
                    "Close Muvra and retry. The update could not be installed."}),
    testing::CaseName());

// How a cancellation reaches the running check.
struct CancelCase {
  const char* name;
  bool byClosingTheWindow;
};

MUVRA_PRINTS_CASE_NAME(CancelCase)

class DownloadCancelTest : public WebLoaderTest,
                           public ::testing::WithParamInterface<CancelCase> {};

TEST_P(DownloadCancelTest, EndsCancelledWithoutTemporaryFile) {
  installOld();
  const fs::path gate = folder / "open";
  publish("v2", kSecond, {{"mode", "gate"}, {"gate", pathToUtf8(gate)}});
  call("check_update");
  bool cancelled = false;
  const std::vector<std::string> phases = awaitIdle([&](const json& state) {
    if (!cancelled && state["downloaded"].get<std::uint64_t>() > 0) {
      cancelled = true;
      if (GetParam().byClosingTheWindow) {
        window->onClose();
      } else {
        EXPECT_EQ(call("cancel_update"), true);
      }
      writeFile(gate, "");
    }
  });
  ASSERT_TRUE(cancelled);
  const json state = loader->state();
  EXPECT_EQ(phases.back(), "cancelled");
  EXPECT_EQ(state["message"], "Cancelled.");
  EXPECT_EQ(state["progress"], 0);
  EXPECT_FALSE(state["canLaunch"].get<bool>());
  EXPECT_EQ(readFile(layout.executablePath), kInstalled);
  EXPECT_EQ(partFiles(), "");
}

INSTANTIATE_TEST_SUITE_P(Ways,
                         DownloadCancelTest,
                         ::testing::Values(CancelCase{"cancelRequest", false},
                                           CancelCase{"windowClosed", true}),
                         testing::CaseName());

TEST_F(WebLoaderTest, CancelDuringVerificationKeepsThePreviousInstallation) {
  installOld();
  publish("v2", kSecond);
  loader->setCheckCheckpoint([this](std::string_view point) {
    if (point == "verifying") {
      loader->cancelFlag.set();
    }
  });
  EXPECT_EQ(checkAndWait().back(), "cancelled");
  EXPECT_EQ(loader->state()["message"], "Update cancelled. The previous installation was kept.");
  EXPECT_EQ(readFile(layout.executablePath), kInstalled);
  EXPECT_EQ(partFiles(), "");
}

TEST_F(WebLoaderTest, CancelAfterInstallWithholdsLaunching) {
  installOld();
  publish("v2", kSecond);
  loader->setCheckCheckpoint([this](std::string_view point) {
    if (point == "installed") {
      loader->cancelFlag.set();
    }
  });
  EXPECT_EQ(checkAndWait().back(), "cancelled");
  const json state = loader->state();
  EXPECT_EQ(state["message"], "Update cancelled.");
  EXPECT_FALSE(state["canLaunch"].get<bool>());
  EXPECT_EQ(state["progress"], 0);
  EXPECT_EQ(readFile(layout.executablePath), kSecond);
  EXPECT_EQ(refusal("launch_app"), "Verify the latest release first.");
}

class LaunchTest : public WebLoaderTest {
 protected:
  void SetUp() override {
    publish("v1", recorder.recordingRelease());
    ASSERT_EQ(checkAndWait().back(), "ready");
  }

  testing::LaunchRecorder recorder{folder.path()};
};

TEST_F(LaunchTest, TwoLaunchesStartTwoChildren) {
  for (int launch = 0; launch < 2; ++launch) {
    EXPECT_EQ(call("launch_app"), true);
    EXPECT_EQ(awaitIdle().back(), "launched");
    EXPECT_EQ(loader->state()["message"], "Muvra is open. You can close this launcher.");
    EXPECT_EQ(loader->state()["progress"], 100);
    EXPECT_TRUE(loader->state()["canLaunch"].get<bool>());
  }
  const std::vector<std::string> records = testing::awaitLaunchRecords(layout.loaderFolder, 2);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], recorder.expectedRecord(layout));
  EXPECT_EQ(records[1], recorder.expectedRecord(layout));
}

TEST_F(LaunchTest, FailedLaunchKeepsLaunchPermitted) {
  publish("v2", recorder.failingRelease());
  ASSERT_EQ(checkAndWait().back(), "ready");
  EXPECT_EQ(call("launch_app"), true);
  EXPECT_EQ(awaitIdle().back(), "error");
  const json state = loader->state();
  EXPECT_EQ(state["message"], testing::LaunchRecorder::failureSentence());
  EXPECT_EQ(state["progress"], 0);
  EXPECT_TRUE(state["canLaunch"].get<bool>());
  publish("v3", recorder.recordingRelease());
  ASSERT_EQ(checkAndWait().back(), "ready");
  EXPECT_EQ(call("launch_app"), true);
  EXPECT_EQ(awaitIdle().back(), "launched");
  EXPECT_EQ(testing::awaitLaunchRecords(layout.loaderFolder, 1).size(), 1u);
}

// The installed file is proved again at launch: one changed after the check is not started, and
// the log of checks says why; launching stays permitted, and the file as proved starts again.
TEST_F(LaunchTest, AFileChangedAfterTheCheckIsNotStarted) {
  const fs::path log = folder / "profiles" / "key-checks.log";
  loader->setCheckLog(log);
  const std::string proved = readFile(layout.executablePath);
  std::string changed = proved;
  changed[changed.size() / 2] ^= 1;
  writeFile(layout.executablePath, changed);
  EXPECT_EQ(call("launch_app"), true);
  EXPECT_EQ(awaitIdle().back(), "error");
  EXPECT_EQ(loader->state()["message"], "Could not launch Muvra.");
  EXPECT_TRUE(loader->state()["canLaunch"].get<bool>());
  const std::string logged = readFile(log);
  EXPECT_NE(logged.find(" launch refused: app/muvra.exe is no longer the verified release v1: its "
                        "SHA-256 differs from the release"),
            std::string::npos)
      << logged;
  fs::remove(layout.executablePath);
  EXPECT_EQ(call("launch_app"), true);
  EXPECT_EQ(awaitIdle().back(), "error");
  EXPECT_NE(readFile(log).find("verified release v1: it cannot be opened"), std::string::npos);
  writeFile(layout.executablePath, proved);
  EXPECT_EQ(call("launch_app"), true);
  EXPECT_EQ(awaitIdle().back(), "launched");
  const std::vector<std::string> records = testing::awaitLaunchRecords(layout.loaderFolder, 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], recorder.expectedRecord(layout));
}

TEST_F(LaunchTest, RecheckWithdrawsLaunchingWhileItRuns) {
  const fs::path gate = folder / "open";
  publish("v2", kSecond, {{"mode", "gate"}, {"gate", pathToUtf8(gate)}});
  call("check_update");
  EXPECT_FALSE(loader->state()["canLaunch"].get<bool>());
  EXPECT_EQ(refusal("launch_app"), "An operation is still running.");
  writeFile(gate, "");
  EXPECT_EQ(awaitIdle().back(), "ready");
  EXPECT_TRUE(loader->state()["canLaunch"].get<bool>());
}

TEST_F(WebLoaderTest, ARateLimitIsLoggedWithTheResetTimeGitHubSent) {
  const fs::path log = folder / "profiles" / "key-checks.log";
  loader->setCheckLog(log);
  github.setRoutes({{testing::routeKey(latestReleaseUrl()),
                     {{"status", 429},
                      {"body", "{}"},
                      {"headers", {{"Retry-After", "60"}, {"X-RateLimit-Reset", "1796876458"}}}}}});
  EXPECT_EQ(checkAndWait().back(), "error");
  EXPECT_EQ(loader->state()["message"],
            "GitHub denied or rate-limited the request. Try again later.");
  const std::string logged = readFile(log);
  EXPECT_NE(logged.find(" refused status=429 retry-after=60 x-ratelimit-reset=1796876458 "
                        "(2026-12-10T04:20:58Z)"),
            std::string::npos)
      << logged;
}

#ifdef _WIN32
// Something that opens the new program for a moment (an antivirus scan) does not fail the
// install; what holds it longer than 3 s does, and the previous installation is kept.
TEST_F(WebLoaderTest, TheMoveWaitsOutABriefHoldButNotALongOne) {
  installOld();
  for (const auto& [time, phase] : {std::pair{std::chrono::milliseconds(1000), "ready"},
                                    std::pair{std::chrono::milliseconds(5000), "error"}}) {
    SCOPED_TRACE(phase);
    const std::string published = std::string(phase) == "ready" ? kSecond : kFirst;
    const std::string before = readFile(layout.executablePath);
    publish(std::string(phase) == "ready" ? "v2" : "v3", published);
    std::optional<testing::BriefHold> hold;
    loader->setCheckCheckpoint([&, time = time](std::string_view point) {
      if (point == "verifying") {
        hold.emplace(layout.executablePath, time);
      }
    });
    EXPECT_EQ(checkAndWait().back(), phase);
    hold.reset();
    if (std::string(phase) == "ready") {
      EXPECT_TRUE(readFile(layout.executablePath) == published);
    } else {
      EXPECT_EQ(loader->state()["message"],
                "Close Muvra and retry. The update could not be installed.");
      EXPECT_TRUE(readFile(layout.executablePath) == before);
    }
    EXPECT_EQ(partFiles(), "");
  }
}
#endif

// A download that breaks off after some bytes is asked again for the rest (Range, If-Range) and
// installs exactly the published bytes; past three resumptions the check ends as before.
class ResumingDownloadTest : public WebLoaderTest {
 protected:
  // The first `breaks` answers each send `bytes` of their body, then close.
  static json breaking(int breaks, std::size_t bytes = kAsset.size() * 2 / 5) {
    return {{"etag", "\"r1\""}, {"ranges", true}, {"break_after", bytes}, {"breaks", breaks}};
  }

  std::vector<json> assetAnswers() const {
    std::vector<json> answers;
    for (const json& answer : github.answersSent()) {
      if (answer["path"].get<std::string>().find("/releases/download/") != std::string::npos) {
        answers.push_back(answer);
      }
    }
    return answers;
  }

  static inline const std::string kAsset = testing::windowsProgram(1 << 20, 'r');
};

TEST_F(ResumingDownloadTest, ADroppedDownloadAsksOnlyForTheRest) {
  publish("v2", kAsset, breaking(1));
  EXPECT_EQ(checkAndWait().back(), "ready");
  EXPECT_TRUE(readFile(layout.executablePath) == kAsset);
  const std::vector<json> answers = assetAnswers();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1]["status"], 206);
  EXPECT_EQ(answers[0]["sent"].get<std::size_t>() + answers[1]["sent"].get<std::size_t>(),
            kAsset.size())
      << "the first bytes were asked for once";
  const json headers = github.requests().back()["headers"];
  EXPECT_EQ(headers["Range"], "bytes=" + std::to_string(kAsset.size() * 2 / 5) + "-");
  EXPECT_EQ(headers["If-Range"], "\"r1\"");
}

TEST_F(ResumingDownloadTest, ThreeBreaksInARowAreResumedAndAFourthEndsTheCheck) {
  publish("v2", kAsset, breaking(3, kAsset.size() / 5));
  EXPECT_EQ(checkAndWait().back(), "ready");
  EXPECT_TRUE(readFile(layout.executablePath) == kAsset);
  EXPECT_EQ(assetAnswers().size(), 4u);

  publish("v3", kSecond, breaking(4, kSecond.size() / 5));
  EXPECT_EQ(checkAndWait().back(), "error");
  EXPECT_EQ(loader->state()["message"], kDownloadInterrupted);
  EXPECT_TRUE(readFile(layout.executablePath) == kAsset);
  EXPECT_EQ(partFiles(), "");
}

TEST_F(ResumingDownloadTest, AServerThatIgnoresTheRangeSendsItAllAgain) {
  json route = breaking(1);
  route.erase("ranges");
  publish("v2", kAsset, route);
  std::uint64_t shown = 0;
  call("check_update");
  awaitIdle([&](const json& state) {
    EXPECT_GE(state["downloaded"].get<std::uint64_t>(), shown) << "the progress went back";
    shown = state["downloaded"].get<std::uint64_t>();
  });
  EXPECT_EQ(loader->state()["phase"], "ready");
  EXPECT_TRUE(readFile(layout.executablePath) == kAsset);
  const std::vector<json> answers = assetAnswers();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1]["status"], 200);
}

TEST_F(ResumingDownloadTest, AnotherFileUnderTheSameAddressIsNeverMixedIn) {
  json route = breaking(1);
  route["etag_changes"] = true;
  publish("v2", kAsset, route);
  EXPECT_EQ(checkAndWait().back(), "ready");
  EXPECT_TRUE(readFile(layout.executablePath) == kAsset);
  const std::vector<json> answers = assetAnswers();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1]["status"], 200) << "If-Range named the first file";
}

// A publisher who allows it: after a check proved the installation, a check that cannot reach
// GitHub proves the installed file against the recorded release and permits launching it.
class OfflineStartTest : public LaunchTest {
 protected:
  OfflineStartTest() { loader->setOfflineStart(record, true); }

  void failReleaseRequests(const json& route) {
    json failing = routes;
    failing[testing::routeKey(latestReleaseUrl())] = route;
    github.setRoutes(failing);
  }

  const fs::path record = folder / "profiles" / "key-verified-release.json";
};

TEST_F(OfflineStartTest, StartsTheRecordedReleaseWhenGitHubCannotAnswer) {
  ASSERT_TRUE(readReleaseRecord(record).has_value());
  const json failures[] = {{{"status", 503}, {"body", "{}"}},
                           {{"status", 429}, {"body", "{}"}},
                           {{"mode", "drop"}, {"body", std::string(4096, ' ')}}};
  for (const json& failure : failures) {
    SCOPED_TRACE(failure.dump());
    failReleaseRequests(failure);
    EXPECT_EQ(checkAndWait().back(), "ready");
    const json state = loader->state();
    EXPECT_EQ(state["message"],
              "GitHub could not be reached. The verified release v1 on this computer can start.");
    EXPECT_EQ(state["latestVersion"], "v1");
    EXPECT_TRUE(state["canLaunch"].get<bool>());
  }
  EXPECT_EQ(call("launch_app"), true);
  EXPECT_EQ(awaitIdle().back(), "launched");
  const std::vector<std::string> records = testing::awaitLaunchRecords(layout.loaderFolder, 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], recorder.expectedRecord(layout));
}

TEST_F(OfflineStartTest, NeverStartsAFileThatIsNoLongerTheRecordedRelease) {
  std::string changed = readFile(layout.executablePath);
  changed[5000] ^= 1;
  writeFile(layout.executablePath, changed);
  failReleaseRequests({{"status", 503}, {"body", "{}"}});
  EXPECT_EQ(checkAndWait().back(), "error");
  EXPECT_EQ(loader->state()["message"], "GitHub returned HTTP 503.");
  EXPECT_FALSE(loader->state()["canLaunch"].get<bool>());
}

TEST_F(OfflineStartTest, AnAnswerAboutTheReleaseNeverStartsTheRecordedOne) {
  publish("v2", kSecond, json::object(), {{"prerelease", true}});
  EXPECT_EQ(checkAndWait().back(), "error");
  EXPECT_FALSE(loader->state()["canLaunch"].get<bool>());
  writeFile(folder / "served-v2", kSecond);
  github.setRoutes(
      testing::releaseRoutes("v2", kSecond.size(), std::string(64, '0'), folder / "served-v2"));
  EXPECT_EQ(checkAndWait().back(), "error");
  EXPECT_EQ(loader->state()["message"], kIntegrity);
  EXPECT_FALSE(loader->state()["canLaunch"].get<bool>());
}

TEST_F(OfflineStartTest, WithoutThePublishersConsentTheCheckFailsAsBefore) {
  loader->setOfflineStart(record, false);
  failReleaseRequests({{"status", 503}, {"body", "{}"}});
  EXPECT_EQ(checkAndWait().back(), "error");
  EXPECT_EQ(loader->state()["message"], "GitHub returned HTTP 503.");
  EXPECT_FALSE(loader->state()["canLaunch"].get<bool>());
}

// A build that pins the publisher's key and its backup.
class PublisherKeysTest : public WebLoaderTest {
 protected:
  PublisherKeysTest() {
    loader->setPublisherKeys({testing::keyPin("publisher"), testing::keyPin("backup")});
  }

  static std::string program(const std::string& name) {
    return readFile(testing::signedProgram(name));
  }

  void install(const std::string& bytes) {
    fs::create_directories(layout.executablePath.parent_path());
    writeFile(layout.executablePath, bytes);
  }
};

TEST_F(PublisherKeysTest, AReleaseSignedByAPinnedKeyReplacesAnUnsignedInstallation) {
  for (const char* signedBy : {"publisher", "backup"}) {
    SCOPED_TRACE(signedBy);
    install(program("unsigned"));
    publish("v2", program(signedBy));
    EXPECT_EQ(checkAndWait().back(), "ready");
    EXPECT_EQ(readFile(layout.executablePath), program(signedBy));
    EXPECT_EQ(checkAndWait(), (std::vector<std::string>{"checking", "ready"}));
  }
}

TEST_F(PublisherKeysTest, AReleaseNotSignedByAPinnedKeyIsRefusedAndTheOldOneKept) {
  for (const char* release : {"unsigned", "stranger", "signature-changed", "publisher-wrong-name",
                              "publisher-no-version"}) {
    SCOPED_TRACE(release);
    installOld();
    publish("v2", program(release));
    EXPECT_EQ(checkAndWait().back(), "error");
    EXPECT_EQ(loader->state()["message"], kNotSignedByPublisher);
    EXPECT_FALSE(loader->state()["canLaunch"].get<bool>());
    EXPECT_EQ(readFile(layout.executablePath), kInstalled);
    EXPECT_EQ(partFiles(), "");
  }
}

// The installed file is the release by size and digest, but no pinned key signed it: it is not
// taken for the latest, so the release is downloaded and proved, and refused.
TEST_F(PublisherKeysTest, AnInstalledFileWithoutThePublishersSignatureIsNotTheLatest) {
  install(program("stranger"));
  publish("v1", program("stranger"));
  EXPECT_EQ(checkAndWait().back(), "error");
  EXPECT_EQ(assetRequests(), 1u);
  EXPECT_EQ(loader->state()["message"], kNotSignedByPublisher);
  EXPECT_EQ(readFile(layout.executablePath), program("stranger"));
}

// Versions only go forward: a release below the verified program on this computer, or at its
// version with other bytes, is not installed.
class ForwardOnlyTest : public PublisherKeysTest {
 protected:
  ForwardOnlyTest() { loader->setCheckLog(checkLog); }

  void installByCheck(const std::string& name) {
    publish("v-" + name, program(name));
    ASSERT_EQ(checkAndWait().back(), "ready");
    ASSERT_EQ(readFile(layout.executablePath), program(name));
  }

  std::string logged() const { return fs::exists(checkLog) ? readFile(checkLog) : ""; }

  const fs::path checkLog = folder / "profiles" / "key-checks.log";
};

TEST_F(ForwardOnlyTest, AnOlderOrRebuiltReleaseLeavesTheVerifiedProgramToStart) {
  installByCheck("publisher");
  for (const char* release : {"publisher-2.5", "publisher-2.6-rebuilt"}) {
    SCOPED_TRACE(release);
    publish("v-older", program(release));
    EXPECT_EQ(checkAndWait().back(), "ready");
    const json state = loader->state();
    EXPECT_EQ(state["message"], kOlderThanInstalled);
    EXPECT_TRUE(state["canLaunch"].get<bool>());
    EXPECT_EQ(readFile(layout.executablePath), program("publisher"));
    EXPECT_EQ(partFiles(), "");
  }
  const std::string log = logged();
  EXPECT_NE(
      log.find(" older release=2.5.0.0 verified=2.6.0.0: " + std::string(kOlderThanInstalled)),
      std::string::npos)
      << log;
  EXPECT_NE(log.find(" older release=2.6.0.0 verified=2.6.0.0: "), std::string::npos) << log;
}

TEST_F(ForwardOnlyTest, ANewerReleaseInstalls) {
  installByCheck("publisher");
  publish("v2.7", program("publisher-2.7"));
  EXPECT_EQ(checkAndWait().back(), "ready");
  EXPECT_EQ(loader->state()["message"],
            "Your latest release is verified. Launch whenever you are ready.");
  EXPECT_EQ(readFile(layout.executablePath), program("publisher-2.7"));
  EXPECT_EQ(logged(), "");
}

// An installed file counts only when it passes the publisher's proof.
TEST_F(ForwardOnlyTest, AnInstalledProgramNotSignedByThePublisherSetsNoFloor) {
  install(program("stranger"));
  publish("v2.5", program("publisher-2.5"));
  EXPECT_EQ(checkAndWait().back(), "ready");
  EXPECT_EQ(readFile(layout.executablePath), program("publisher-2.5"));
}

TEST_F(ForwardOnlyTest, TheRecordedVersionHoldsWhenTheInstalledFileIsGone) {
  const fs::path record = folder / "profiles" / "key-verified-release.json";
  loader->setOfflineStart(record, false);
  installByCheck("publisher");
  ASSERT_EQ(readReleaseRecord(record)->fileVersion, FileVersion::of(2, 6, 0, 0));
  for (const char* release : {"publisher-2.5", "publisher-2.6-rebuilt"}) {
    SCOPED_TRACE(release);
    fs::remove(layout.executablePath);
    publish("v-older", program(release));
    EXPECT_EQ(checkAndWait().back(), "error");
    EXPECT_EQ(loader->state()["message"], kOlderThanVerified);
    EXPECT_FALSE(loader->state()["canLaunch"].get<bool>());
    EXPECT_FALSE(fs::exists(layout.executablePath));
    EXPECT_EQ(partFiles(), "");
  }
  EXPECT_NE(
      logged().find(" older release=2.5.0.0 verified=2.6.0.0: " + std::string(kOlderThanVerified)),
      std::string::npos)
      << logged();
  // The very release the record names is no step back.
  installByCheck("publisher");
}

// Without keys the Parts hold: a publisher may roll back by publishing an older release.
TEST_F(WebLoaderTest, WithoutKeysAnOlderReleaseInstalls) {
  const fs::path record = folder / "profiles" / "key-verified-release.json";
  loader->setOfflineStart(record, false);
  for (const char* release : {"publisher", "publisher-2.5"}) {
    const std::string bytes = readFile(testing::signedProgram(release));
    publish(release, bytes);
    EXPECT_EQ(checkAndWait().back(), "ready");
    EXPECT_EQ(readFile(layout.executablePath), bytes);
  }
  ASSERT_TRUE(readReleaseRecord(record).has_value());
  EXPECT_EQ(readReleaseRecord(record)->fileVersion, std::nullopt);
}

TEST_F(WebLoaderTest, PreviewModeRunsNothing) {
  loader->preview = true;
  const json expected = previewDocument();
  for (int request = 0; request < 3; ++request) {
    EXPECT_EQ(call("get_loader_state"), expected);
  }
  EXPECT_EQ(expected["phase"], "ready");
  EXPECT_EQ(expected["latestVersion"], "Preview");
  EXPECT_EQ(expected["progress"], 100);
  EXPECT_EQ(expected["loaderVersion"], "2.5");
  EXPECT_FALSE(expected["canLaunch"].get<bool>());
  EXPECT_FALSE(expected["busy"].get<bool>());
  EXPECT_EQ(refusal("check_update"), "This is an offline launcher preview.");
  EXPECT_EQ(refusal("launch_app"), "This is an offline launcher preview.");
  EXPECT_EQ(call("cancel_update"), true);
  EXPECT_EQ(loader->state()["phase"], "idle");
  EXPECT_EQ(github.requests().size(), 0u);
}

TEST(TemporaryDownloadPathTest, NamesTheProcessAndTheTick) {
  const std::uint64_t before = tickMilliseconds();
  const fs::path part = temporaryDownloadPath("/loader/app/muvra.exe");
  const std::uint64_t after = tickMilliseconds();
  EXPECT_EQ(part.parent_path(), fs::path("/loader/app"));
  const std::string name = pathToUtf8(part.filename());
  const std::string prefix = "muvra-" + std::to_string(processId()) + "-";
  ASSERT_TRUE(name.starts_with(prefix) && name.ends_with(".part")) << name;
  const std::uint64_t tick = std::stoull(name.substr(prefix.size()));
  EXPECT_GE(tick, before);
  EXPECT_LE(tick, after);
}

}  // namespace
}  // namespace muvra
