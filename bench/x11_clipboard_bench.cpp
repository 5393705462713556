// The clipboard worker over the X11 clipboard, on an Xvfb server of its own.
//
// - The idle pass: a pass that finds the selection's owner unchanged, with a short and with
//   a 16 MiB text (which xclip hands over in pieces, refused once) on the clipboard, and
//   with the plugin's own reply on it.
// - The running plugin, started through its exports on the wall clock, with a native game
//   that takes CLIPBOARD for each request and answers the plugin's question for it: how
//   soon a frame is placed, how soon a game that looks every millisecond reads the reply to
//   "GetVersion", a query followed 10 ms later by a frame, the clipboard thread's wake-ups
//   and the heap allocations while nothing changes and while a player copies, and the time
//   ts3plugin_shutdown takes while the worker waits.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "allocation_counter.h"
#include "clipboard/clipboard.h"
#include "clipboard/envelope.h"
#include "interfaces/interface26.h"
#include "plugin/exports.h"
#include "plugin/workers.h"
#include "shared/plugin_state.h"
#include "voice_client.h"
#include "x_display.h"

namespace sorlinx {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int SAMPLES = 200;

// Every benchmark runs on this program's own Xvfb.
void useOwnDisplay() {
  static std::optional<testing::Xvfb> server;
  if (!server) {
    server.emplace();
    setenv("DISPLAY", server->name().c_str(), 1);
  }
}

void idlePass(benchmark::State& state) {
  useOwnDisplay();
  sim::VoiceClient host;
  interface26::setFunctionPointers(host.table26());
  pluginState.connectionStatus.store(STATUS_CONNECTION_ESTABLISHED);
  clipboard::release();
  ClipboardChannel channel;
  clipboardPass(channel);  // connects
  if (state.range(0) > 0) {
    testing::XClipboard().put(std::string(static_cast<std::size_t>(state.range(0)), 'x'));
  } else {
    std::uint64_t emptiedAt = 0;
    clipboard::writeText("sorlinx beta 0.8", emptiedAt);  // the plugin's own reply
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // its notice arrives
  clipboardPass(channel);                                      // the one read of this text
  const std::uint64_t allocationsBefore = bench::allocationCount();
  for (auto _ : state) {
    clipboardPass(channel);
    benchmark::DoNotOptimize(channel.unchangedPasses);
  }
  state.counters["allocations_per_pass"] =
      benchmark::Counter(static_cast<double>(bench::allocationCount() - allocationsBefore) /
                         static_cast<double>(state.iterations()));
  clipboard::release();
}
BENCHMARK(idlePass)->Arg(10)->Arg(16 << 20)->Arg(0);

// The median, 95th percentile and worst of `samples`, as counters, in ms.
void reportSpread(benchmark::State& state, std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  state.counters["median_ms"] = samples[samples.size() / 2];
  state.counters["p95_ms"] = samples[samples.size() * 95 / 100];
  state.counters["worst_ms"] = samples.back();
}

// The wall clock's pacer, counting the clipboard worker's waits: one after each of its
// passes.
class CountingPacer final : public Pacer {
 public:
  Milliseconds now() override { return pluginState.steadyPacer.now(); }
  bool pause(Milliseconds duration) override { return pluginState.steadyPacer.pause(duration); }
  Wake awaitLook(Milliseconds duration, ChangeNotices* notices) override {
    passes.fetch_add(1);
    return pluginState.steadyPacer.awaitLook(duration, notices);
  }
  std::atomic<std::uint64_t> passes{0};
};

// The plugin started through its exports, with the fake voice client stamping each call in
// microseconds since the start, and the game's own connection to the clipboard.
class RunningPlugin {
 public:
  RunningPlugin() : origin_(Clock::now()) {
    useOwnDisplay();
    host_.setClock([origin = origin_] {
      return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin).count();
    });
    host_.setLocalClient(5);
    host_.addClient(5, 40, "me");
    host_.addClient(8, 40, "mate");
    interface26::setFunctionPointers(host_.table26());
    game.emplace();
    game->put("neutral");
    pluginState.pacer = &pacer;
    ts3plugin_init();
    // Named, so that its wake-ups can be told from the cue thread's.
    pthread_setname_np(pluginState.clipboardThreadHandle.native_handle(), "sorlinx-clip");
    std::this_thread::sleep_for(300ms);
  }
  RunningPlugin(const RunningPlugin&) = delete;
  RunningPlugin& operator=(const RunningPlugin&) = delete;
  ~RunningPlugin() {
    ts3plugin_shutdown();
    pluginState.pacer = &pluginState.steadyPacer;
  }

  [[nodiscard]] std::int64_t nowMicros() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin_).count();
  }
  std::size_t placements() { return host_.placements().size(); }
  // When the voice client was asked for placement `index` (0 the first), in µs.
  std::int64_t placedAt(std::size_t index) {
    return host_.callsTo("channelset3DAttributes").at(index).time;
  }
  // Waits until the clipboard's owner is no longer `owner` (the game's request was taken
  // and replied to), looking every millisecond as a game would, and reads the text.
  std::optional<std::string> replyAfter(std::uint32_t owner, Clock::duration timeout) {
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
      std::this_thread::sleep_for(1ms);
      if (game->owner() != owner) {
        return game->read();
      }
    }
    return std::nullopt;
  }
  // How often the clipboard thread has blocked and been woken again so far.
  static std::uint64_t clipboardThreadWakeUps() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      std::string name;
      std::getline(std::ifstream(task.path() / "comm"), name);
      if (name != "sorlinx-clip") {
        continue;
      }
      std::ifstream status(task.path() / "status");
      for (std::string line; std::getline(status, line);) {
        if (line.starts_with("voluntary_ctxt_switches:")) {
          return std::stoull(line.substr(line.find(':') + 1));
        }
      }
    }
    return 0;
  }

  std::optional<testing::XClipboard> game;
  CountingPacer pacer;

 private:
  Clock::time_point origin_;
  sim::VoiceClient host_;
};

// Frames written by a game at moments spread over the plugin's look period (a random pause
// of 0 to 100 ms after each placement): from the game taking CLIPBOARD to the placement.
void requestToPlacement(benchmark::State& state) {
  RunningPlugin plugin;
  std::mt19937 random(19);
  std::uniform_int_distribution<int> pause(0, 100);
  std::vector<double> samples;
  int frame = 0;
  for (auto _ : state) {
    testing::TestOwner game({requestText("3D", "{8[" + std::to_string(++frame) + ",0,0]}")});
    const std::size_t before = plugin.placements();
    const std::int64_t written = plugin.nowMicros();
    game.take();
    const auto end = Clock::now() + 2s;
    while (plugin.placements() == before && Clock::now() < end) {
      std::this_thread::sleep_for(1ms);
    }
    if (plugin.placements() == before) {
      state.SkipWithError("a frame was never placed");
      break;
    }
    const double ms = static_cast<double>(plugin.placedAt(before) - written) / 1000.0;
    state.SetIterationTime(ms / 1000.0);
    samples.push_back(ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
  }
  reportSpread(state, samples);
}
BENCHMARK(requestToPlacement)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(SAMPLES);

// A game writes "GetVersion" (a new text each time), watches the owner of CLIPBOARD every
// millisecond and, once another program owns it, reads the reply: from the game taking
// CLIPBOARD to the reply read.
void getVersionRoundTrip(benchmark::State& state) {
  RunningPlugin plugin;
  std::vector<double> samples;
  int asked = 0;
  for (auto _ : state) {
    testing::TestOwner game({requestText("GetVersion", "") + "#" + std::to_string(++asked)});
    const auto start = Clock::now();
    game.take();
    const std::uint32_t owner = plugin.game->owner();
    const auto reply = plugin.replyAfter(owner, 2s);
    const auto elapsed = Clock::now() - start;
    if (reply != VERSION_TEXT) {
      state.SkipWithError("a GetVersion was never answered");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    samples.push_back(std::chrono::duration<double, std::milli>(elapsed).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(asked * 7 % 100));
  }
  reportSpread(state, samples);
}
BENCHMARK(getVersionRoundTrip)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(SAMPLES);

// A game whose frame timer writes 10 ms after its query, 200 times: the query counts as
// answered when the game, reading just before it writes the frame, finds the reply; every
// frame should be placed. Each frame stays on the clipboard until the next query.
void queryThenFrame(benchmark::State& state) {
  RunningPlugin plugin;
  for (auto _ : state) {
    const std::size_t placedBefore = plugin.placements();
    int answered = 0;
    std::optional<testing::TestOwner> frame;
    for (int round = 1; round <= SAMPLES; ++round) {
      testing::TestOwner query({requestText("GetPlayerID", "") + "#" + std::to_string(round)});
      query.take();
      const std::uint32_t owner = plugin.game->owner();
      std::this_thread::sleep_for(10ms);
      if (plugin.game->owner() != owner && plugin.game->read() == "5") {
        ++answered;
      }
      frame.emplace(testing::TestOwner::Behaviour{
          requestText("3D", "{8[" + std::to_string(round) + ",0,0]}")});
      frame->take();
      std::this_thread::sleep_for(std::chrono::milliseconds(10 + round % 50));
    }
    std::this_thread::sleep_for(300ms);
    state.counters["queries_answered"] = answered;
    state.counters["frames_placed"] = static_cast<double>(plugin.placements() - placedBefore);
  }
}
BENCHMARK(queryThenFrame)->Unit(benchmark::kSecond)->Iterations(1);

// Three seconds of the running plugin while a player copies `range(0)` texts a second (0:
// idle): the clipboard worker's passes and its thread's wake-ups a second (a pass that reads
// a text blocks for each round trip to the server and to the owner) and, idle, the heap
// allocations of every thread.
void wakeUpsWhileCopying(benchmark::State& state) {
  const int copiesPerSecond = static_cast<int>(state.range(0));
  RunningPlugin plugin;
  for (auto _ : state) {
    const std::uint64_t wakeUpsBefore = RunningPlugin::clipboardThreadWakeUps();
    const std::uint64_t passesBefore = plugin.pacer.passes.load();
    const std::uint64_t allocationsBefore = bench::allocationCount();
    const auto start = Clock::now();
    for (int copies = 0; Clock::now() - start < 3s;) {
      if (copiesPerSecond == 0) {
        std::this_thread::sleep_for(3s);
        continue;
      }
      std::this_thread::sleep_until(start + 1000ms * copies / copiesPerSecond);
      plugin.game->put("copied " + std::to_string(copies++));
    }
    const auto allocations = static_cast<double>(bench::allocationCount() - allocationsBefore);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto wakeUps =
        static_cast<double>(RunningPlugin::clipboardThreadWakeUps() - wakeUpsBefore);
    state.SetIterationTime(seconds);
    state.counters["wake_ups_per_second"] = wakeUps / seconds;
    state.counters["passes_per_second"] =
        static_cast<double>(plugin.pacer.passes.load() - passesBefore) / seconds;
    if (copiesPerSecond == 0) {
      state.counters["allocations"] = allocations;
    }
  }
}
BENCHMARK(wakeUpsWhileCopying)->Arg(0)->Arg(10)->UseManualTime()->Iterations(1);

// ts3plugin_shutdown at moments spread over the look period, the clipboard worker waiting.
void shutdownWhileWaiting(benchmark::State& state) {
  useOwnDisplay();
  sim::VoiceClient host;
  interface26::setFunctionPointers(host.table26());
  std::mt19937 random(16);
  std::uniform_int_distribution<int> pause(30, 130);
  for (auto _ : state) {
    ts3plugin_init();
    std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
    const auto start = Clock::now();
    ts3plugin_shutdown();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}
BENCHMARK(shutdownWhileWaiting)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace
}  // namespace sorlinx
