// A thousand starts and stops of the real workers while the connection callbacks fire and a
// game keeps writing, then a stale-frame reset among the running workers. For the sanitizer
// builds above all (tsan: races, asan: leaks); a stop that hangs ends in the timeout.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "commands/secrets_folder.h"
#include "support/eventually.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using namespace std::chrono_literals;

constexpr int CYCLES = 1000;
// What a stop should take, in ms; shared machines and sanitizers make single stops slower.
constexpr double SHUTDOWN_TARGET_MS = 20;

constexpr const char* SECRET = "S3cr3t-stress-identity-5a1e";

// What the game keeps writing: frames that fill and empty the radio lists, queries, moves
// and reconnections, and texts that are no requests.
std::vector<std::string> gameTexts() {
  std::vector<std::string> texts = {
      request("3D", "{5[1,2,3][RC]}{8[4,5,6][RL]}{9[7,8,9][RC]}"),
      request("3D", "{5[1,2,3][CD]}{8[-1,-2,-3]}{9[0,0,0][RL]}"),
      request("GetPlayerID"),
      request("GetCurrentChannelID"),
      request("GetPlayerIDFromName", "mate"),
      request("GetVersion"),
      request("SwitchPlayer", "8,41,"),
      request("ConnectToServer", "voice.example.org,9987,,Player"),
      request("3DMUTE", "ON"),
      "not a request",
  };
  std::string big = "{1[0,0,0][RC]}";
  for (int client = 2; client < 300; ++client) {
    big += "{" + std::to_string(client) + "[1,1,1][RL]}";
  }
  texts.push_back(request("3D", big));
  return texts;
}

using StressTest = PluginTest;

TEST_P(StressTest, AThousandStartsAndStopsWhileTheVoiceClientAndTheGameKeepGoing) {
  pluginState.pacer = &pluginState.steadyPacer;  // the real threads, on the wall clock
  // Connection changes come back through the callback, from the thread that asked.
  host.setConnectionLifecycle(
      [](ServerConnectionId connection, std::int32_t status) {
        ts3plugin_onConnectStatusChangeEvent(connection, status, 0);
      },
      [](Milliseconds /*delay*/, const std::function<void()>& work) { work(); }, 0ms);
  const SecretsFolder secrets(std::string("[General]\nidentity=") + SECRET + "\n");
  host.setConfigPath(secrets.path());
  std::atomic<int> repliesWithSecret{0};
  memory_clipboard::setWriteObserver([&repliesWithSecret](std::string_view reply) {
    if (reply.find(SECRET) != std::string_view::npos) {
      ++repliesWithSecret;
    }
  });

  std::atomic<bool> firing{true};
  std::thread voiceClient([&firing] {
    for (unsigned i = 0; firing.load(); ++i) {
      constexpr std::int32_t STATUSES[] = {4, 4, 4, 0, 1, 4, 2};
      ts3plugin_onConnectStatusChangeEvent(1 + i % 2, STATUSES[i % 7], i);
      if (i % 5 == 0) {
        ts3plugin_currentServerConnectionChanged(1);
      }
      std::this_thread::sleep_for(200us);
    }
  });
  std::thread game([&firing] {
    const std::vector<std::string> texts = gameTexts();
    for (std::size_t i = 0; firing.load(); ++i) {
      memory_clipboard::setText(texts[i % texts.size()]);
      std::this_thread::sleep_for(1ms);
    }
  });

  std::vector<double> stops;
  stops.reserve(CYCLES);
  for (int cycle = 0; cycle < CYCLES; ++cycle) {
    ASSERT_EQ(ts3plugin_init(), 0);
    // Stop at once now and then, while the workers are still starting; otherwise a little
    // later, when they are in a pass or in a pause.
    if (cycle % 4 != 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(300 * (cycle % 7)));
    }
    const auto before = Clock::now();
    ts3plugin_shutdown();
    stops.push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
    ASSERT_FALSE(pluginState.clipboardThreadHandle.joinable());
    ASSERT_FALSE(pluginState.soundCueThreadHandle.joinable());
    ASSERT_EQ(pluginState.identityBuffer, nullptr) << "the identity outlived a stop";
  }
  firing.store(false);
  voiceClient.join();
  game.join();

  std::sort(stops.begin(), stops.end());
  const double median = stops[stops.size() / 2];
  const double worst = stops.back();
  std::printf("%d stops: median %.3f ms, 99th percentile %.3f ms, worst %.3f ms\n", CYCLES, median,
              stops[stops.size() * 99 / 100], worst);
  RecordProperty("worst_shutdown_ms", std::to_string(worst));
  EXPECT_LT(median, SHUTDOWN_TARGET_MS);

  EXPECT_GT(host.callsTo("channelset3DAttributes").size(), 0U) << "no frame was ever applied";
  expectHostRulesKept();
  EXPECT_EQ(repliesWithSecret.load(), 0);
  for (const sim::HostCall& call : host.calls()) {
    if (call.entry != "startConnection") {
      EXPECT_EQ(call.arguments.find(SECRET), std::string::npos) << call.entry;
    }
  }

  // Last, the game falls silent after a frame: the stale-frame reset empties the lists on the
  // clipboard thread while the cue thread reads them, and the stop comes after.
  host.clearCalls();
  host.setConnection(1, STATUS_CONNECTION_ESTABLISHED);
  memory_clipboard::setText(gameTexts().front());
  ASSERT_EQ(ts3plugin_init(), 0);
  const auto resetRan = [this] {
    const auto placements = host.placements();
    return std::any_of(placements.begin(), placements.end(),
                       [](const sim::Placement& p) { return p.client == 5 && p.position.x == 0; });
  };
  EXPECT_TRUE(eventually(resetRan, 5s)) << "no stale-frame reset ran";
  EXPECT_FALSE(host.callsTo("playWaveFile").empty());
  ts3plugin_shutdown();
}

SORLINX_FOR_EACH_INTERFACE(StressTest);

}  // namespace
}  // namespace sorlinx::testing
