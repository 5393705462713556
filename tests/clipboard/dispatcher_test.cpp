#include "clipboard/dispatcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "clipboard/memory_clipboard.h"
#include "plugin/plugin_state.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using DispatcherTest = PluginTest;

TEST_P(DispatcherTest, CommandsMatchWholeAndCaseSensitiveAndMuteTakesOnlyAnExactOn) {
  for (const char* name : {"getversion", "GETVERSION", "GetVersion ", " GetVersion", "GetVersio",
                           "GetChannelIDFromName", ""}) {
    std::string arguments;
    dispatchRequest(name, arguments);
  }
  const auto mute = [](std::string arguments) {
    dispatchRequest("3DMUTE", arguments);
    return pluginState.mute3D.load();
  };
  for (const char* arguments : {"on", "ON ", "ONx", ""}) {
    EXPECT_TRUE(mute("ON"));
    EXPECT_FALSE(mute(arguments)) << arguments;
  }
  EXPECT_EQ(memory_clipboard::writeCount(), 0U);
  EXPECT_THAT(host.calls(), IsEmpty());
}

// Clipboard texts, each followed by unchanged passes; the reset must come on the very last,
// and put the local player's channel at the origin.
TEST_P(DispatcherTest, WhatArmsAndRestartsTheReset) {
  struct Step {
    std::string text;  // empty: no new text, only passes
    int passes;
    bool connected = true;
  };
  const std::vector<std::vector<Step>> cases{
      // A reply changes the clipboard once more: the pass that reads it does not count.
      {{request("GetVersion"), 21}},
      {{request("NoSuchCommand"), 20}},
      {{"[kex_sorlinx][/kex_sorlinx]", 20}},
      {{request("GetChannelIDFromName", "x"), 20}},
      // A new request starts the count again.
      {{request("3DMUTE", "a"), 15}, {request("3DMUTE", "b"), 20}},
      // A text without the envelope neither arms the reset nor restarts its count.
      {{"not a request", 30}, {request("3DMUTE", "c"), 10}, {"not a request", 10}},
      // The reset waits for the connection, and a request that comes meanwhile restarts it.
      {{request("3DMUTE", "d"), 45, false}, {"", 1}},
      {{request("3DMUTE", "e"), 25, false}, {request("3DMUTE", "f"), 20}},
  };
  for (const auto& steps : cases) {
    SCOPED_TRACE(steps.front().text);
    host.clearCalls();
    setLists({3, 4}, {6});
    for (std::size_t i = 0; i < steps.size(); ++i) {
      setConnected(steps[i].connected);
      if (!steps[i].text.empty()) {
        passWith(steps[i].text);
      }
      passes(steps[i].passes - (i + 1 == steps.size() ? 1 : 0));
    }
    EXPECT_NE(lists(), Lists());
    EXPECT_THAT(host.placements(), IsEmpty());
    passes(1);
    EXPECT_EQ(lists(), Lists());
    EXPECT_THAT(host.transcript(), ElementsAre("getClientID(1)", "getChannelOfClient(1,5)",
                                               "getChannelClientList(1,40)", placement("1,5,0,0,0"),
                                               placement("1,8,0,0,0"), "freeMemory(pointer)"));
  }
}

TEST_P(DispatcherTest, EachFailureOfTheResetIsLogged) {
  struct Case {
    const char* entry;
    ClientId client;  // 0: the entry fails for every client
    const char* line;
    std::size_t callsMade;
    std::size_t placed;
  };
  for (const Case& c : {Case{"getClientID", 0, "erreur getClientID", 1, 0},
                        Case{"getChannelOfClient", 0, "erreur getChannelOfClient", 2, 0},
                        Case{"getChannelClientList", 0, "erreur getChannelClientList", 3, 0},
                        // A refused placement skips only that client: 8 is placed all the same.
                        Case{"channelset3DAttributes", 5, "erreur Channelset3DAttributes", 6, 1}}) {
    SCOPED_TRACE(c.entry);
    host.clearCalls();
    host.clearFailures();
    c.client == 0 ? host.fail(c.entry, 1) : host.failForClient(c.entry, c.client, 0x200);
    setLists({3, 4}, {6});
    passWith(request("3DMUTE", c.entry));
    passes(20);
    EXPECT_EQ(lists(), Lists());
    EXPECT_THAT(host.logLines(), ElementsAre(c.line));
    expectHostRulesKept();
    EXPECT_EQ(host.transcript().size(), c.callsMade);
    EXPECT_EQ(host.placements().size(), c.placed);
    passes(40);  // not retried until another request arms it
    EXPECT_EQ(host.logLines().size(), 1U);
  }
}

SORLINX_FOR_EACH_INTERFACE(DispatcherTest);

}  // namespace
}  // namespace sorlinx::testing
