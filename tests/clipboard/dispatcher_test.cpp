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

class DispatcherTest : public PluginTest {
 protected:
  DispatcherTest() {
    host.setLocalClient(5);
    host.addClient(5, 40, "me");
    host.addClient(8, 40, "mate");
    host.addClient(9, 41, "elsewhere");
  }

  static void fillLists() {
    const std::lock_guard lock(pluginState.stateLock);
    pluginState.rcClients = {3, 4};
    pluginState.rlClients = {6};
  }

  static bool listsEmpty() {
    const std::lock_guard lock(pluginState.stateLock);
    return pluginState.rcClients.empty() && pluginState.rlClients.empty();
  }

  [[nodiscard]] std::vector<std::string> placementsAtOrigin() const {
    std::vector<std::string> lines;
    for (const auto& call : host.callsTo("channelset3DAttributes")) {
      lines.push_back(call.arguments);
    }
    return lines;
  }
};

TEST_F(DispatcherTest, CommandsMatchWholeAndCaseSensitive) {
  for (const char* name : {"getversion", "GETVERSION", "GetVersion ", " GetVersion", "GetVersio",
                           "GetChannelIDFromName", ""}) {
    std::string arguments;
    dispatchRequest(name, arguments);
  }
  EXPECT_EQ(memory_clipboard::writeCount(), 0U);
  EXPECT_THAT(host.calls(), IsEmpty());
}

TEST_F(DispatcherTest, ThreeDMuteRecordsOnlyAnExactOn) {
  const auto mute = [](std::string arguments) {
    dispatchRequest("3DMUTE", arguments);
    return pluginState.mute3D.load();
  };
  EXPECT_TRUE(mute("ON"));
  EXPECT_FALSE(mute("on"));
  EXPECT_TRUE(mute("ON"));
  EXPECT_FALSE(mute("ON "));
  EXPECT_TRUE(mute("ON"));
  EXPECT_FALSE(mute(""));
  EXPECT_EQ(memory_clipboard::writeCount(), 0U);
  EXPECT_THAT(host.calls(), IsEmpty());
}

TEST_F(DispatcherTest, TwentyUnchangedPassesAfterARequestResetOnce) {
  fillLists();
  passWith(request("3DMUTE", "x"));
  passes(19);
  EXPECT_FALSE(listsEmpty());
  EXPECT_THAT(host.calls(), IsEmpty());
  passes(1);
  EXPECT_TRUE(listsEmpty());
  EXPECT_THAT(host.transcript(),
              ElementsAre("getClientID(1)", "getChannelOfClient(1,5)", "getChannelClientList(1,40)",
                          "channelset3DAttributes(1,5,0,0,0,null)",
                          "channelset3DAttributes(1,8,0,0,0,null)", "freeMemory(pointer)"));
  EXPECT_EQ(host.outstandingAllocations(), 0);
  EXPECT_EQ(host.badFrees(), 0);
  host.clearCalls();
  passes(60);
  EXPECT_THAT(host.calls(), IsEmpty());
  EXPECT_EQ(channel.unchangedPasses, STALE_FRAME_PASSES);
}

TEST_F(DispatcherTest, AnyRequestArmsTheReset) {
  struct Case {
    std::string text;
    int passesToReset;
  };
  // A reply changes the clipboard once more: the pass that reads it does not count.
  for (const Case& c :
       {Case{request("GetVersion"), 21}, Case{request("NoSuchCommand"), 20},
        Case{"[kex_sorlinx][/kex_sorlinx]", 20}, Case{request("GetChannelIDFromName", "x"), 20}}) {
    SCOPED_TRACE(c.text);
    host.clearCalls();
    fillLists();
    passWith(c.text);
    passes(c.passesToReset - 1);
    EXPECT_FALSE(listsEmpty());
    passes(1);
    EXPECT_TRUE(listsEmpty());
    EXPECT_EQ(host.placements().size(), 2U);
  }
}

TEST_F(DispatcherTest, ANewRequestBeforeTheTwentiethPassStartsTheCountAgain) {
  passWith(request("3DMUTE", "a"));
  passes(15);
  passWith(request("3DMUTE", "b"));
  passes(19);
  EXPECT_THAT(host.calls(), IsEmpty());
  passes(1);
  EXPECT_EQ(host.placements().size(), 2U);
}

TEST_F(DispatcherTest, TextsWithoutTheEnvelopeNeitherArmNorRestartTheCount) {
  passes(30);
  passWith("not a request");
  passes(30);
  EXPECT_THAT(host.calls(), IsEmpty());

  passWith(request("3DMUTE", "a"));
  passes(10);
  passWith("not a request");  // a changed pass: neither counts nor zeroes
  passes(9);
  EXPECT_THAT(host.calls(), IsEmpty());
  passes(1);
  EXPECT_EQ(host.placements().size(), 2U);
}

TEST_F(DispatcherTest, TheResetWaitsForTheConnectionUnlessARequestComesFirst) {
  fillLists();
  setConnected(false);
  passWith(request("3DMUTE", "a"));
  passes(45);
  EXPECT_FALSE(listsEmpty());
  EXPECT_THAT(host.calls(), IsEmpty());
  EXPECT_EQ(channel.unchangedPasses, 45U);
  setConnected(true);
  passes(1);
  EXPECT_TRUE(listsEmpty());
  EXPECT_EQ(host.placements().size(), 2U);

  // A request that comes while waiting starts the count again.
  host.clearCalls();
  setConnected(false);
  passWith(request("3DMUTE", "b"));
  passes(25);
  passWith(request("3DMUTE", "c"));
  setConnected(true);
  passes(19);
  EXPECT_THAT(host.calls(), IsEmpty());
  passes(1);
  EXPECT_EQ(host.placements().size(), 2U);
}

TEST_F(DispatcherTest, EachFailingQueryOfTheResetIsLoggedAndEndsIt) {
  struct Case {
    const char* entry;
    const char* line;
    std::size_t callsMade;
  };
  for (const Case& c : {Case{"getClientID", "erreur getClientID", 1},
                        Case{"getChannelOfClient", "erreur getChannelOfClient", 2},
                        Case{"getChannelClientList", "erreur getChannelClientList", 3}}) {
    SCOPED_TRACE(c.entry);
    host.clearCalls();
    host.clearFailures();
    host.fail(c.entry, 1);
    fillLists();
    passWith(request("3DMUTE", c.entry));
    passes(20);
    EXPECT_TRUE(listsEmpty());
    EXPECT_THAT(host.logLines(), ElementsAre(c.line));
    EXPECT_EQ(host.conventionBreaks(), 0);
    EXPECT_EQ(host.transcript().size(), c.callsMade);
    EXPECT_THAT(host.callsTo("freeMemory"), IsEmpty());
    passes(40);  // not retried until another request arms it
    EXPECT_EQ(host.logLines().size(), 1U);
  }
}

TEST_F(DispatcherTest, AFailedPlacementSkipsOnlyThatClient) {
  host.addClient(11, 40, "third");
  host.failForClient("channelset3DAttributes", 8, 0x200);
  passWith(request("3DMUTE", "a"));
  passes(20);
  EXPECT_THAT(host.logLines(), ElementsAre("erreur Channelset3DAttributes"));
  ASSERT_EQ(host.placements().size(), 2U);
  EXPECT_EQ(host.placements()[0].client, 5);
  EXPECT_EQ(host.placements()[1].client, 11);
  EXPECT_EQ(host.outstandingAllocations(), 0);
}

}  // namespace
}  // namespace sorlinx::testing
