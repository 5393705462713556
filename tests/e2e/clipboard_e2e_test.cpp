// End to end: the shipped DLL, loaded by name, driven through its exports by a recording
// fake voice client, and talking to this program through the real clipboard.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "plugin_dll.h"

namespace sorlinx::e2e {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

TEST_F(PluginDllTest, ExportsAnswerAndInitAsksForTheConnectionAndItsStatus) {
  EXPECT_STREQ(dll.name(), "Ostrel Plugin");
  EXPECT_STREQ(dll.version(), "sorlinx beta 0.8");
  EXPECT_EQ(dll.apiVersion(), INTERFACE);
  EXPECT_STRNE(dll.author(), "");
  EXPECT_EQ(std::string(dll.description()).rfind("TeamSpeak 3 plugin for Ostrel.\n", 0), 0U);
  host.setConnection(0x1'0000'0007ULL, 4);
  start();
  EXPECT_THAT(host.transcript(),
              ElementsAre("getConfigPath(1000)", "getCurrentServerConnectionHandlerID()",
                          "getConnectionStatus(4294967303)"));
}

TEST_F(PluginDllTest, ARequestLeftOnTheClipboardArmsOneResetEvenAcrossAHeldClipboard) {
  start();
  host.clearCalls();
  const auto requested = Clock::now();
  putText(request("NoSuchCommand"));
  std::this_thread::sleep_for(300ms);
  {
    // Another program keeps the clipboard for a few passes.
    const ClipboardHolder holder;
    std::this_thread::sleep_for(500ms);
  }
  ASSERT_TRUE(eventually([this] { return host.placements().size() == 2; }, 5s));
  const auto resetAfter = Clock::now() - requested;
  EXPECT_GE(resetAfter, 1900ms) << "the reset came before twenty passes";
  EXPECT_THAT(host.transcript(),
              ElementsAre("getClientID(1)", "getChannelOfClient(1,5)", "getChannelClientList(1,40)",
                          placement("1,5,0,0,0"), placement("1,8,0,0,0"), "freeMemory(pointer)"));
  // Nothing more: the request was taken once, and the reset waits for another.
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(host.placements().size(), 2U);
  EXPECT_EQ(clipboardText(), request("NoSuchCommand"));
  EXPECT_EQ(host.outstandingAllocations(), 0);
  EXPECT_EQ(host.badFrees(), 0);
}

TEST_F(PluginDllTest, AReplyTheClipboardRefusesIsWrittenOnceItIsFree) {
  // The game takes the clipboard exactly while the plugin asks the voice client for the
  // answer, and keeps it for a while: every try of the plugin's write fails.
  std::atomic<bool> taken{false};
  std::optional<ClipboardHolder> holder;
  host.setHook("getClientID", [&] {
    if (!taken.load()) {
      holder.emplace();
      taken.store(true);
    }
  });
  start();
  putText(request("GetPlayerID"));
  ASSERT_TRUE(eventually([&] { return taken.load(); }));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(host.callsTo("getClientID").size(), 1U);
  holder.reset();
  EXPECT_TRUE(eventually([] { return clipboardText() == "5"; }));
  EXPECT_EQ(host.callsTo("getClientID").size(), 2U) << "the request was not taken again";
  const auto lines = host.logLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "erreur writeClipboardText"), 1);
}

TEST_F(PluginDllTest, ShutdownWhileIdleReturnsPromptly) {
  start();
  std::this_thread::sleep_for(300ms);  // the worker is in its pause now
  const auto before = Clock::now();
  dll.shutdown();
  const auto took = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
  std::cout << "ts3plugin_shutdown took " << took << " ms\n";
  RecordProperty("shutdown_ms", std::to_string(took));
  EXPECT_LT(took, 1000.0) << "shutdown waited out the worker's pauses";
  dll.shutdown();            // a second one does nothing
  EXPECT_EQ(dll.init(), 0);  // and the plugin starts again
  putText(request("GetVersion"));
  EXPECT_TRUE(eventually([] { return clipboardText() == "sorlinx beta 0.8"; }));
}

}  // namespace
}  // namespace sorlinx::e2e
