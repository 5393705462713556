// The info panel's texts, built from what the workers publish and told on the pacer's
// clock, and the refreshes the clipboard worker asks of the voice client.
#include "plugin/info_panel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/eventually.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

class InfoPanelTest : public PluginTest {
 protected:
  // The text the voice client would show for the item, or nothing for null.
  static std::optional<std::string> text(int type, std::uint64_t id, ServerConnectionId on = 1) {
    char* block = infoPanelText(on, id, type);
    if (block == nullptr) {
      return std::nullopt;
    }
    std::string shown = block;
    freeInfoPanelText(block);
    return shown;
  }
  static std::string gameSide() { return text(INFO_ITEM_SERVER, 1).value_or("(null)"); }
  static std::string client(ClientId id) { return text(INFO_ITEM_CLIENT, id).value_or("(null)"); }
};

TEST_P(InfoPanelTest, TheServerTheOwnClientAndAnotherClientFollowTheGame) {
  const std::string quiet =
      "No request from the game since the plugin started.\n"
      "[b]Radio RC:[/b] nobody; [b]RL:[/b] nobody\n"
      "[b]Stale-frame reset:[/b] none since the plugin started\n"
      "[b]Last failure:[/b] none";
  EXPECT_EQ(gameSide(), quiet);
  EXPECT_EQ(client(5), quiet) << "the player's own client";
  EXPECT_EQ(text(INFO_ITEM_CLIENT, 0x1'0000'0005ULL), quiet) << "a client's ID is its low 16 bits";
  EXPECT_EQ(client(8), "Not placed by the game since the plugin started.");
  EXPECT_EQ(text(INFO_ITEM_CHANNEL, 40), std::nullopt);

  // A nickname cannot open a tag; a refused record places nobody; a client's last flag in
  // the frame is its list, and a record without one keeps what an earlier one gave.
  host.addClient(8, 40, "[b]mate");
  host.failForClient("channelset3DAttributes", 7, sim::INVALID_CLIENT_ID);
  pacer.pause(1000ms);
  passWith(request("3D",
                   "{5[0,0,0]}{8[1.5,-2,3][RC]}{8[1.5,-2,3]}{9[4,5,6][RL]}{9[4,5,6][CD]}"
                   "{7[1,1,1][RL]}"));
  pacer.pause(2500ms);
  EXPECT_EQ(gameSide(),
            "[b]Game:[/b] last request 2.5 s ago (3D), 1 request since the plugin started\n"
            "[b]Last frame:[/b] 3 voices placed, 2.5 s ago\n"
            "[b]Radio RC:[/b] (b)mate (8); [b]RL:[/b] nobody\n"
            "[b]Stale-frame reset:[/b] none since the plugin started\n"
            "[b]Last failure:[/b] Erreur_ID_invalide:7 (2.5 s ago)");
  EXPECT_EQ(client(8),
            "[b]Placed by the game[/b] 2.5 s ago at x 1.5, y 3, z -2 (y is the height)\n"
            "[b]Radio:[/b] on the RC list");
  EXPECT_THAT(client(9), HasSubstr("[b]Radio:[/b] on neither list"));
  EXPECT_EQ(client(7), "Not placed by the game since the plugin started.");

  // A request the plugin does not know, then silence: the reset empties the lists, and the
  // clients it puts back at the origin say so.
  passWith(request("Hello[b]"));
  passes(20);
  pacer.pause(61s);
  EXPECT_THAT(gameSide(), HasSubstr("[b]Game:[/b] last request 1 min 1 s ago (a command the "
                                    "plugin does not know), 2 requests since"));
  EXPECT_THAT(gameSide(), HasSubstr("[b]Radio RC:[/b] nobody; [b]RL:[/b] nobody\n"
                                    "[b]Stale-frame reset:[/b] 1 min 1 s ago\n"));
  EXPECT_EQ(client(8),
            "[b]At the origin:[/b] put back by the stale-frame reset 1 min 1 s ago\n"
            "[b]Radio:[/b] on neither list");
  // A frame puts client 8 on RC again, and the next one, without it, takes it off the list
  // while its place stays.
  passWith(request("3D", "{8[1,1,1][RC]}"));
  passWith(request("3D", "{9[1,1,1][RL]}"));
  EXPECT_THAT(client(8), HasSubstr(" at x 1, y 1, z 1 (y is the height)\n"
                                   "[b]Radio:[/b] on neither list"));
  EXPECT_THAT(client(9), HasSubstr("[b]Radio:[/b] on the RL list"));

  // The game's requests act on the current connection: another tab's panel says so.
  EXPECT_THAT(text(INFO_ITEM_SERVER, 2, 2).value_or(""),
              HasSubstr("[i]The game's requests act on another server tab.[/i]\n"));

  // A new start forgets the last run: its requests, failures and clients' places.
  infoBoard.startRun({9}, {});
  EXPECT_THAT(gameSide(), HasSubstr("No request from the game since the plugin started.\n"
                                    "[b]Radio RC:[/b] far (9); [b]RL:[/b] nobody\n"));
  EXPECT_THAT(gameSide(), HasSubstr("[b]Last failure:[/b] none"));
  EXPECT_EQ(client(9), "Not placed by the game since the plugin started.");
  expectHostRulesKept();
}

TEST_P(InfoPanelTest, AgesReadAsAPlayerWouldSayThem) {
  const std::pair<long long, const char*> ages[] = {
      {-5, "0.0 s"},          {0, "0.0 s"},
      {999, "0.9 s"},         {9999, "9.9 s"},
      {10000, "10 s"},        {59999, "59 s"},
      {60000, "1 min 0 s"},   {3599999, "59 min 59 s"},
      {3600000, "1 h 0 min"}, {90061000, "25 h 1 min"}};
  for (const auto& [milliseconds, age] : ages) {
    EXPECT_EQ(formatAge(Milliseconds(milliseconds)), age);
  }
  // The radio lists name sixteen members each and count the rest.
  std::string frame;
  for (int client = 100; client < 120; ++client) {
    frame += "{" + std::to_string(client) + "[0,0,0][RL]}";
  }
  passWith(request("3D", frame));
  EXPECT_THAT(gameSide(), HasSubstr("[b]RL:[/b] 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, "
                                    "110, 111, 112, 113, 114, 115 and 4 more\n"));
}

// While frames come every 100 ms the panel is refreshed at once, then once a second, and
// once more within a second of the last frame; while the game is silent, never. The server
// and, once the panel has shown it, the player's own client are refreshed together.
TEST_P(InfoPanelTest, TheVoiceClientIsAskedToRefreshAtMostOnceASecondWhileTheGameTalks) {
  installHost(true);
  host.setClock([this] { return static_cast<std::int64_t>(pacer.now().count()); });
  int sent = 0;
  const auto talkThenFallSilent = [this, &sent](int frames) {
    host.clearCalls();
    for (int i = 0; i < frames; ++i) {
      passWith(request("3D", "{8[1,2,3][RC]}") + "#" + std::to_string(++sent));
      pacer.pause(POLLING_PERIOD);
    }
    for (int i = 0; i < 60; ++i) {
      passes(1);
      pacer.pause(POLLING_PERIOD);
    }
    std::vector<std::string> refreshes;
    for (const sim::HostCall& call : host.callsTo("requestInfoUpdate")) {
      refreshes.push_back(std::to_string(call.time) + ": " + call.arguments);
    }
    return refreshes;
  };
  if (GetParam() == 4) {
    EXPECT_THAT(talkThenFallSilent(30), IsEmpty()) << "interface 4 has no info panel";
    return;
  }
  // The own client's section, once the panel has shown it.
  EXPECT_THAT(talkThenFallSilent(1), ElementsAre("0: 1,0,1"));
  EXPECT_EQ(client(5), gameSide());
  EXPECT_THAT(talkThenFallSilent(30),
              ElementsAre("6100: 1,0,1", "6100: 1,2,5", "7100: 1,0,1", "7100: 1,2,5", "8100: 1,0,1",
                          "8100: 1,2,5", "9100: 1,0,1", "9100: 1,2,5"));
  // A lone request after a long silence is shown at once, connected or not.
  EXPECT_THAT(talkThenFallSilent(1), ElementsAre("15100: 1,0,1", "15100: 1,2,5"));
  setConnected(false);
  EXPECT_THAT(talkThenFallSilent(1), ElementsAre("21200: 1,0,1", "21200: 1,2,5"));
  EXPECT_THAT(host.logLines(), IsEmpty());
}

// The panel is asked for on the voice client's GUI thread, which must never wait for a
// worker: here it asks while the clipboard worker holds stateLock inside a placement.
TEST_P(InfoPanelTest, TheTextComesWhileTheWorkerHoldsTheRadioListsInACall) {
  pluginState.pacer = &pluginState.steadyPacer;
  std::vector<std::future_status> waited;
  std::vector<std::thread> guiThreads;  // joined once the worker has let go, whatever it held
  host.setHook("channelset3DAttributes", [&waited, &guiThreads] {
    std::promise<std::string> shown;
    auto asked = shown.get_future();
    guiThreads.emplace_back(
        [shown = std::move(shown)]() mutable { shown.set_value(client(8) + gameSide()); });
    waited.push_back(asked.wait_for(2s));
  });
  memory_clipboard::setText(request("3D", "{8[1,2,3][RC]}"));
  ts3plugin_init();
  EXPECT_TRUE(eventually([this] { return !host.placements().empty(); }));
  ts3plugin_shutdown();
  for (std::thread& thread : guiThreads) {
    thread.join();
  }
  EXPECT_THAT(waited, ElementsAre(std::future_status::ready));
}

SORLINX_FOR_EACH_INTERFACE(InfoPanelTest);

}  // namespace
}  // namespace sorlinx::testing
