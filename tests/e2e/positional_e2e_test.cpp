// End to end: a position frame placed through the shipped DLL, and the radio cues its sound
// cue thread plays, timed on the wall clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

TEST_F(PluginDllTest, AFrameIsPlacedInOrderItsListsAreCuedAndAStopEndsTheCuesAtOnce) {
  const auto origin = Clock::now();
  host.setClock([origin] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count();
  });
  start();
  // Forget what init did: it reads the identity, and may log that this fake voice client
  // has no configuration folder.
  host.clearCalls();
  putText(request("3D", "{3[12.5,40,1.75]}{7[-3.25,10,0.5][RC]}{9[100,-20.75,2][RL]}"));
  const auto cues = [this] {
    std::vector<Cue> played;
    for (const auto& call : host.callsTo("playWaveFile")) {
      const std::string prefix = "1,\"plugins\\sorlinx\\";
      EXPECT_EQ(call.arguments.rfind(prefix, 0), 0U) << call.arguments;
      const std::string file = call.arguments.substr(prefix.size());
      played.push_back({file.substr(0, file.find('.')), call.time});
    }
    return played;
  };
  ASSERT_TRUE(eventually([&cues] { return cues().size() >= 4; }))
      << ::testing::PrintToString(host.transcript());
  std::vector<std::string> placements;
  for (const auto& call : host.callsTo("channelset3DAttributes")) {
    placements.push_back(call.arguments);
  }
  EXPECT_THAT(placements, ElementsAre("1,3,12.5,1.75,40,null", "1,7,-3.25,0.5,10,null",
                                      "1,9,100,2,-20.75,null"));
  const std::vector<Cue> played = cues();
  ASSERT_EQ(played[0].name + played[1].name + played[2].name + played[3].name, "rcrlbruitbruit");
  EXPECT_LT(played[2].time - played[0].time, 50) << "the start cues and the noise came apart";
  const auto period = played[3].time - played[2].time;
  std::cout << "noise cue repeated after " << period << " ms\n";
  EXPECT_GE(period, 810);
  EXPECT_LE(period, 1000);
  EXPECT_THAT(host.logLines(), ::testing::IsEmpty());

  std::this_thread::sleep_for(200ms);  // the cue thread is in its 818 ms pause now
  const auto before = Clock::now();
  dll.shutdown();
  const auto took = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
  std::cout << "ts3plugin_shutdown while cueing took " << took << " ms\n";
  RecordProperty("shutdown_while_cueing_ms", std::to_string(took));
  EXPECT_LT(took, 200.0) << "shutdown waited out the cue thread's pause";
}

}  // namespace
}  // namespace sorlinx::e2e
