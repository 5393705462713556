// End to end: a position frame placed through the shipped DLL, and the radio cues its sound
// cue thread plays, timed on the wall clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "plugin_dll.h"

namespace sorlinx::e2e {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

struct Cue {
  std::string name;  // rc, rl or bruit
  std::int64_t time;
};

// Run once in interface 4, and in interface 26 with the plugin's ID handed over before init,
// after it, or never: the cue files are found by full or relative paths accordingly.
class CueTest : public PluginDllTest, public ::testing::WithParamInterface<PluginId> {};

TEST_P(CueTest, AFrameIsPlacedInOrderItsListsAreCuedAndAStopEndsTheCuesAtOnce) {
  const auto origin = Clock::now();
  const auto sinceOrigin = [origin] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count();
  };
  host.setClock(sinceOrigin);
  start(GetParam());
  const bool idRegistered = INTERFACE == 26 && GetParam() != PluginId::never;
  // Forget what init did: it reads the identity, and may log that this fake voice client
  // has no configuration folder.
  host.clearCalls();
  putText(request("3D", "{3[12.5,40,1.75]}{7[-3.25,10,0.5][RC]}{9[100,-20.75,2][RL]}"));
  const auto requested = sinceOrigin();
  const auto cues = [this, idRegistered] {
    std::vector<Cue> played;
    for (const auto& call : host.callsTo("playWaveFile")) {
      EXPECT_EQ(call.args[0], "1");
      Cue cue{call.args[1], call.time};  // named by its path, unless it is one of the three
      for (const char* name : {"rc", "rl", "bruit"}) {
        if (call.args[1] == '"' + cueFile(name, idRegistered) + '"') {
          cue.name = name;
        }
      }
      played.push_back(cue);
    }
    return played;
  };
  ASSERT_TRUE(eventually([&cues] { return cues().size() >= 4; }))
      << ::testing::PrintToString(host.transcript());
  std::vector<std::string> placements;
  for (const auto& call : host.callsTo("channelset3DAttributes")) {
    placements.push_back("channelset3DAttributes(" + call.arguments + ")");
  }
  ASSERT_THAT(placements, ElementsAre(placement("1,3,12.5,1.75,40"), placement("1,7,-3.25,0.5,10"),
                                      placement("1,9,100,2,-20.75")));
  const auto placedAfter = host.callsTo("channelset3DAttributes").front().time - requested;
  std::cout << "placed " << placedAfter << " ms after the request\n";
  RecordProperty("placed_after_ms", std::to_string(placedAfter));
  const std::vector<Cue> played = cues();
  ASSERT_EQ(played[0].name + played[1].name + played[2].name + played[3].name, "rcrlbruitbruit");
  EXPECT_LT(played[2].time - played[0].time, 50) << "the start cues and the noise came apart";
  const auto period = played[3].time - played[2].time;
  std::cout << "noise cue repeated after " << period << " ms\n";
  EXPECT_GE(period, 810);
  EXPECT_LE(period, 1000);
  // The folder is asked for once, under the ID handed over; without an ID the plugin says
  // once that it plays the cues by relative paths.
  std::vector<std::string> askedFor;
  for (const auto& call : host.callsTo("getPluginPath")) {
    askedFor.push_back(call.args[1]);
  }
  EXPECT_EQ(askedFor, idRegistered ? std::vector<std::string>{'"' + std::string(PLUGIN_ID) + '"'}
                                   : std::vector<std::string>{});
  EXPECT_EQ(host.logLines(), INTERFACE == 26 && !idRegistered
                                 ? std::vector<std::string>{"erreur getPluginPath: aucun ID"}
                                 : std::vector<std::string>{});

  std::this_thread::sleep_for(200ms);  // the cue thread is in its 818 ms pause now
  const auto before = Clock::now();
  dll.shutdown();
  const auto took = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
  std::cout << "ts3plugin_shutdown while cueing took " << took << " ms\n";
  RecordProperty("shutdown_while_cueing_ms", std::to_string(took));
  EXPECT_LT(took, 200.0) << "shutdown waited out the cue thread's pause";
}

std::string runName(const ::testing::TestParamInfo<PluginId>& run) {
  constexpr std::array NAMES{"IdBeforeInit", "IdAfterInit", "NoId"};
  return NAMES.at(static_cast<std::size_t>(run.param));
}

INSTANTIATE_TEST_SUITE_P(, CueTest,
                         ::testing::ValuesIn(INTERFACE == 26
                                                 ? std::vector{PluginId::beforeInit,
                                                               PluginId::afterInit, PluginId::never}
                                                 : std::vector{PluginId::never}),
                         runName);

}  // namespace
}  // namespace sorlinx::e2e
