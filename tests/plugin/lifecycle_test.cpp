#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "clipboard/clipboard.h"
#include "clipboard/memory_clipboard.h"
#include "plugin/exports.h"
#include "shared/plugin_state.h"
#include "support/eventually.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

class LifecycleTest : public PluginTest {
 protected:
  LifecycleTest() {
    pluginState.pacer = &pluginState.steadyPacer;  // the real threads run here
    setConnected(false);
  }

  // Waits for the clipboard worker to answer a request.
  static bool answered() {
    return eventually([] { return memory_clipboard::text() == "sorlinx beta 0.8"; });
  }
};

TEST_P(LifecycleTest, TheFixedTexts) {
  EXPECT_STREQ(ts3plugin_name(), "Ostrel Plugin");
  EXPECT_STREQ(ts3plugin_version(), "sorlinx beta 0.8");
  EXPECT_GT(std::strlen(ts3plugin_author()), 0U);
  // Two lines: what it is, then a link.
  EXPECT_THAT(ts3plugin_description(),
              MatchesRegex("TeamSpeak 3 plugin for Ostrel\\.\n[^\n]*://[^\n]*"));
}

TEST_P(LifecycleTest, InitLearnsTheConnectionAndStartsTheClipboardWorker) {
  host.setConnection(77, 4);
  memory_clipboard::setText(request("GetVersion"));
  EXPECT_EQ(ts3plugin_init(), 0);
  EXPECT_THAT(host.transcript(),
              ElementsAre("getConfigPath(1000)", "getCurrentServerConnectionHandlerID()",
                          "getConnectionStatus(77)"));
  EXPECT_EQ(pluginState.currentServerConnection.load(), 77U);
  EXPECT_EQ(pluginState.connectionStatus.load(), 4);
  EXPECT_TRUE(answered());
  ts3plugin_shutdown();
  EXPECT_FALSE(pluginState.clipboardThreadHandle.joinable());
  // A failed status query leaves the status at zero, and the workers start all the same.
  host.fail("getConnectionStatus", 1);
  EXPECT_EQ(ts3plugin_init(), 0);
  EXPECT_EQ(pluginState.connectionStatus.load(), 0);
  EXPECT_TRUE(pluginState.clipboardThreadHandle.joinable());
}

TEST_P(LifecycleTest, MisusedLifecycleCallsAreHarmlessAndAStopKeepsTheRadioLists) {
  resetPluginState();  // no table yet: init starts nothing
  EXPECT_EQ(ts3plugin_init(), 0);
  EXPECT_FALSE(pluginState.running.load());
  EXPECT_FALSE(pluginState.clipboardThreadHandle.joinable());
  installHost();
  ts3plugin_shutdown();  // without init
  ts3plugin_shutdown();
  setLists({4}, {9});
  EXPECT_EQ(ts3plugin_init(), 0);
  const auto firstThread = pluginState.clipboardThreadHandle.get_id();
  EXPECT_EQ(ts3plugin_init(), 0);  // again, without shutdown
  EXPECT_EQ(pluginState.clipboardThreadHandle.get_id(), firstThread);
  EXPECT_EQ(host.callsTo("getCurrentServerConnectionHandlerID").size(), 1U);
  ts3plugin_shutdown();
  ts3plugin_shutdown();
  EXPECT_EQ(pluginState.identityBuffer, nullptr);

  // And a fresh start after a stop works as the first did, with the lists as they were.
  memory_clipboard::setText(request("GetVersion"));
  EXPECT_EQ(ts3plugin_init(), 0);
  EXPECT_TRUE(answered());
  EXPECT_EQ(lists(), Lists({4}, {9}));
}

TEST_P(LifecycleTest, AStatusChangeForAnyConnectionMakesItCurrent) {
  ts3plugin_onConnectStatusChangeEvent(5, 4, 0);
  EXPECT_EQ(pluginState.currentServerConnection.load(), 5U);
  EXPECT_EQ(pluginState.connectionStatus.load(), 4);
  // Changing the current connection keeps the last status.
  ts3plugin_currentServerConnectionChanged(6);
  EXPECT_EQ(pluginState.currentServerConnection.load(), 6U);
  EXPECT_EQ(pluginState.connectionStatus.load(), 4);
  ts3plugin_onConnectStatusChangeEvent(0x1'0000'0006ULL, 2, 1234);  // the error number is ignored
  EXPECT_EQ(pluginState.currentServerConnection.load(), 0x1'0000'0006ULL);
  EXPECT_EQ(pluginState.connectionStatus.load(), 2);
}

TEST_P(LifecycleTest, AStopEndsAPauseOrAWaitForNoticesAtOnceAndAChangeEndsTheWait) {
  StopFlag stop;
  SteadyPacer steady(stop);
  const auto later = [](std::function<void()> action) {
    return std::thread([action = std::move(action)] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      action();
    });
  };
  // Without the wake-ups each of these would take the whole minute.
  std::thread stopper = later([&stop] { stop.set(); });
  EXPECT_FALSE(steady.pause(std::chrono::minutes(1)));
  stopper.join();
  EXPECT_FALSE(steady.pause(Milliseconds(0)));
  stop.clear();
  EXPECT_TRUE(steady.pause(Milliseconds(1)));

  const std::unique_ptr<ChangeNotices> notices = clipboard::listenForChanges();
  std::thread writer = later([] { memory_clipboard::setText("copied"); });
  EXPECT_EQ(steady.awaitLook(std::chrono::minutes(1), notices.get()), Wake::notice);
  writer.join();
  EXPECT_EQ(steady.awaitLook(Milliseconds(1), notices.get()), Wake::due);
  stopper = later([&stop] { stop.set(); });
  EXPECT_EQ(steady.awaitLook(std::chrono::minutes(1), notices.get()), Wake::stopping);
  stopper.join();
  // A stop that came before the wait ends it too, and once cleared the wait is a wait again.
  EXPECT_EQ(steady.awaitLook(std::chrono::minutes(1), notices.get()), Wake::stopping);
  stop.clear();
  EXPECT_EQ(steady.awaitLook(Milliseconds(1), notices.get()), Wake::due);
  // Attached for the worker's whole life, the notices hear of a stop between waits too (a
  // pass waiting for a slow owner ends): a wait does not undo that attachment.
  stop.attach(notices.get());
  EXPECT_EQ(steady.awaitLook(Milliseconds(1), notices.get()), Wake::due);
  stop.set();
  const auto stopped = std::chrono::steady_clock::now();
  EXPECT_FALSE(notices->wait(std::chrono::seconds(2)));
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(1));
  stop.attach(nullptr);
}

TEST_P(LifecycleTest, TheRunningWorkerListensForNoticesAndStopsWhileWaiting) {
  // The wall clock, but the regular looks never come: only a notice or the stop can end
  // the worker's wait.
  class NoticesOnly final : public Pacer {
   public:
    Milliseconds now() override { return steady_.now(); }
    bool pause(Milliseconds duration) override { return steady_.pause(duration); }
    Wake awaitLook(Milliseconds /*duration*/, ChangeNotices* notices) override {
      return steady_.awaitLook(std::chrono::hours(1), notices);
    }

   private:
    SteadyPacer steady_{pluginState.stopRequested};
  } noticesOnly;
  pluginState.pacer = &noticesOnly;
  EXPECT_EQ(ts3plugin_init(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // its first pass is done
  memory_clipboard::setText(request("GetVersion"));
  EXPECT_TRUE(answered());
  const auto stopping = std::chrono::steady_clock::now();
  ts3plugin_shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(1));
  pluginState.pacer = &pluginState.steadyPacer;
}

// The log lines every part of the plugin writes.
TEST_P(LifecycleTest, EveryLogLineFollowsTheConventionAndIsCutNotOverrun) {
  logError("erreur getClientID");
  logError(std::string(5000, 'a'));
  const auto calls = host.callsTo("logMessage");
  ASSERT_EQ(calls.size(), 2U);
  EXPECT_EQ(calls[0].arguments, "\"erreur getClientID\",4,\"Plugin\",0");
  EXPECT_EQ(host.logLines()[1], std::string(255, 'a'));

  // Without a log entry nothing happens.
  host.clearCalls();
  pluginState.host.logMessage = nullptr;
  logError("erreur getClientID");
  EXPECT_TRUE(host.calls().empty());
}

SORLINX_FOR_EACH_INTERFACE(LifecycleTest);

}  // namespace
}  // namespace sorlinx::testing
