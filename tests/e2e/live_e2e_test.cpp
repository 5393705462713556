// End to end: sorlinx-sim --live, run as its own process on the real clipboard, while this
// program plays a game on that clipboard with the protocol guide's game code: queries
// answered there, frames with radio flags, a move, the same frame twice, a text of the
// player's own, an emptied clipboard. What the run recorded then replays, on the virtual
// clock and in real time, with the same placements and replies at the same times.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "game.h"

namespace {

using sorlinx::e2e::ChildProcess;
using std::chrono::milliseconds;

// The placements and replies of a timeline, one line each with its time: what a replay must
// give again: the placements the voice client took, and every reply.
std::vector<std::string> placementsAndReplies(const std::string& timeline) {
  static const std::regex EVENT(
      R"re(^(\{"time_ms":\d+,"event":"(place"(,"[xyz]":[^,]+|,"client":\d+){4}(?=.*,"result":0\}\r?$)|)re"
      R"re(reply","text":"([^"\\]|\\.)*")))re");
  std::vector<std::string> found;
  std::istringstream lines(timeline);
  std::smatch event;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, event, EVENT)) {
      found.push_back(event[1]);
    }
  }
  return found;
}

std::string temporaryPath(const std::string& name) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "sorlinx-live-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

using sorlinx::game::ask;
using sorlinx::game::request;

// Writes as the game does, then lets the plugin take it for `ms`.
void put(const std::string& text, int ms = 250) {
  EXPECT_NE(sorlinx::game::write(text), 0U) << "the clipboard does not take " << text;
  std::this_thread::sleep_for(milliseconds(ms));
}

class LiveTest : public ::testing::TestWithParam<int> {};

TEST_P(LiveTest, AGamesTrafficRecordedLiveReplaysTheSame) {
  const int pluginInterface = GetParam();
  const std::string world = temporaryPath("world.session");
  const std::string recording = temporaryPath("recorded.session");
  {
    std::ofstream out(world);
    out << "0 client 5 Ana in 40 local\n0 client 7 Bo in 40\n0 client 9 Cyd in 40\n";
  }
  // The wine server keeps the clipboard between runs: start from a neutral text.
  put("neutral", 0);
  const std::string switches = "--interface " + std::to_string(pluginInterface);

  std::string liveOutput;
  {
    ChildProcess live("sorlinx-sim.exe --live --json --record \"" + recording + "\" " + switches +
                      " \"" + world + "\"");
    ASSERT_TRUE(live.started()) << "cannot start sorlinx-sim.exe";
    ASSERT_TRUE(live.waitForOutput("live on the clipboard", milliseconds(10000))) << live.output();

    EXPECT_EQ(ask("GetPlayerID"), "5");
    put(request("3D", "{5[0,0,1.8]}{7[-3.25,10,0.5][RC]}{9[100,-20.75,2][RL]}"), 300);
    const std::string moved = request("3D", "{5[1,0,1.8]}{7[-2,12,0.5]}{9[98,-20,2][RL]}");
    put(moved);
    put(moved);  // the same text again: not a new request
    EXPECT_EQ(ask("GetPlayerIDFromName", "Bo"), "7");
    put("the player's own text");
    put(request("SwitchPlayer", "9,41,"));
    EXPECT_EQ(ask("GetVersion"), "sorlinx beta 0.8");
    EXPECT_TRUE(sorlinx::game::emptyClipboard());
    std::this_thread::sleep_for(milliseconds(250));

    // Either way of ending stops it: a line "quit", or the end of its input.
    if (pluginInterface == 26) {
      live.write("quit\n");
    } else {
      live.closeInput();
    }
    EXPECT_EQ(live.wait(milliseconds(10000)), 0U) << live.output();
    liveOutput = live.output();
  }
  // What the game did, as the plugin took it, and what the plugin did.
  EXPECT_THAT(liveOutput, ::testing::HasSubstr("\"event\":\"place\",\"client\":7,\"x\":-3.25"));
  EXPECT_THAT(liveOutput, ::testing::HasSubstr("\"event\":\"move\",\"client\":9,\"channel\":41"));
  EXPECT_THAT(liveOutput, ::testing::HasSubstr("\"event\":\"lists\",\"rc\":[7],\"rl\":[9]"));
  EXPECT_THAT(liveOutput, ::testing::HasSubstr("\"event\":\"cue\""));
  EXPECT_THAT(liveOutput, ::testing::HasSubstr("(a text that is not a request, 21 bytes)"));
  EXPECT_THAT(liveOutput, ::testing::Not(::testing::HasSubstr("player's own")));
  const std::vector<std::string> livePlaced = placementsAndReplies(liveOutput);
  ASSERT_GE(livePlaced.size(), 9U) << liveOutput;

  std::ifstream recorded(recording);
  std::stringstream session;
  session << recorded.rdbuf();
  EXPECT_THAT(session.str(), ::testing::HasSubstr("empty"));
  for (const std::string clock : {"", " --realtime"}) {
    SCOPED_TRACE("replayed with" + clock);
    const auto [code, output] = sorlinx::e2e::runToEnd(
        "sorlinx-sim.exe --json" + clock + " " + switches + " \"" + recording + "\"",
        milliseconds(30000));
    EXPECT_EQ(code, 0U) << output << "\nrecorded:\n" << session.str();
    EXPECT_THAT(output, ::testing::HasSubstr("\"failed\":0"));
    EXPECT_EQ(placementsAndReplies(output), livePlaced);
  }
  if (HasFailure()) {
    ADD_FAILURE() << "the live run's timeline:\n" << liveOutput;
  }
  std::remove(world.c_str());
  std::remove(recording.c_str());
}

INSTANTIATE_TEST_SUITE_P(BothInterfaces, LiveTest, ::testing::Values(26, 4),
                         [](const ::testing::TestParamInfo<int>& run) {
                           return "interface" + std::to_string(run.param);
                         });

}  // namespace
