// The clipboard worker's costs: an idle pass (the clipboard unchanged since the last read)
// with a short and with a 16 MiB text on it, the heap the channel keeps after each, the pass
// that reads a new 16 MiB text, and the time ts3plugin_shutdown takes with the worker
// threads running. Then the running plugin on the wall clock, listening to the in-memory
// clipboard's notices: its passes a second, idle and with a player copying ten texts a
// second, and the round trip of a "GetVersion" for a game that looks every millisecond.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "allocation_counter.h"
#include "clipboard/envelope.h"
#include "clipboard/memory_clipboard.h"
#include "interfaces/interface26.h"
#include "plugin/exports.h"
#include "plugin/workers.h"
#include "shared/plugin_state.h"
#include "voice_client.h"

namespace sorlinx {
namespace {

void idlePass(benchmark::State& state) {
  sim::VoiceClient host;
  interface26::setFunctionPointers(host.table26());
  pluginState.connectionStatus.store(STATUS_CONNECTION_ESTABLISHED);
  memory_clipboard::reset();
  memory_clipboard::setText(std::string(static_cast<std::size_t>(state.range(0)), 'x'));

  ClipboardChannel channel;
  clipboardPass(channel);  // the one read of this text
  const std::uint64_t allocationsBefore = bench::allocationCount();
  for (auto _ : state) {
    clipboardPass(channel);
    benchmark::DoNotOptimize(channel.unchangedPasses);
  }
  state.counters["allocations_per_pass"] =
      benchmark::Counter(static_cast<double>(bench::allocationCount() - allocationsBefore) /
                         static_cast<double>(state.iterations()));
  // What the channel holds on to while the text stands on the clipboard.
  state.counters["retained_bytes"] =
      static_cast<double>(channel.lastText.retainedBytes() + channel.currentText.capacity() +
                          channel.argumentText.capacity());
}
BENCHMARK(idlePass)->Arg(10)->Arg(16 << 20);

// A pass that finds a new 16 MiB text: copied, compared, digested and let go.
void hugeTextPass(benchmark::State& state) {
  sim::VoiceClient host;
  interface26::setFunctionPointers(host.table26());
  memory_clipboard::reset();
  ClipboardChannel channel;
  std::string text(std::size_t{16} << 20, 'x');
  for (auto _ : state) {
    text.back() = text.back() == 'x' ? 'y' : 'x';
    memory_clipboard::setText(text);
    clipboardPass(channel);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(hugeTextPass)->Unit(benchmark::kMillisecond);

void shutdownWithWorkersRunning(benchmark::State& state) {
  sim::VoiceClient host;
  interface26::setFunctionPointers(host.table26());
  memory_clipboard::reset();
  for (auto _ : state) {
    ts3plugin_init();
    // Let both workers reach their pauses, where a stop usually finds them.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto start = std::chrono::steady_clock::now();
    ts3plugin_shutdown();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
  }
}
BENCHMARK(shutdownWithWorkersRunning)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);

using WallClock = std::chrono::steady_clock;

// The plugin started through its exports, on the wall clock, for one benchmark.
class RunningPlugin {
 public:
  RunningPlugin() {
    interface26::setFunctionPointers(host_.table26());
    memory_clipboard::reset();
    memory_clipboard::setText("neutral");
    ts3plugin_init();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  RunningPlugin(const RunningPlugin&) = delete;
  RunningPlugin& operator=(const RunningPlugin&) = delete;
  ~RunningPlugin() { ts3plugin_shutdown(); }

 private:
  sim::VoiceClient host_;
};

// The median and 95th percentile of `samples`, as counters, in ms.
void reportSpread(benchmark::State& state, std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  state.counters["median_ms"] = samples[samples.size() / 2];
  state.counters["p95_ms"] = samples[samples.size() * 95 / 100];
  state.counters["worst_ms"] = samples.back();
}

// Three seconds of the running plugin while a player copies `range(0)` texts a second (0:
// idle): the clipboard passes a second (one look at the change counter each) and, idle,
// the heap allocations of all its threads.
void passesWhileCopying(benchmark::State& state) {
  const int copiesPerSecond = static_cast<int>(state.range(0));
  const RunningPlugin plugin;
  for (auto _ : state) {
    const std::uint64_t looksBefore = memory_clipboard::counterLookCount();
    const std::uint64_t allocationsBefore = bench::allocationCount();
    const auto start = WallClock::now();
    int copies = 0;
    while (WallClock::now() - start < std::chrono::seconds(3)) {
      if (copiesPerSecond == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        continue;
      }
      std::this_thread::sleep_until(start +
                                    std::chrono::milliseconds(1000) * copies / copiesPerSecond);
      memory_clipboard::setText("copied " + std::to_string(copies++));
    }
    // Taken before the counters below allocate anything.
    const auto allocations = static_cast<double>(bench::allocationCount() - allocationsBefore);
    const auto looks = static_cast<double>(memory_clipboard::counterLookCount() - looksBefore);
    const double seconds = std::chrono::duration<double>(WallClock::now() - start).count();
    state.SetIterationTime(seconds);
    state.counters["passes_per_second"] = looks / seconds;
    if (copiesPerSecond == 0) {
      state.counters["allocations"] = allocations;
    }
  }
}
BENCHMARK(passesWhileCopying)->Arg(0)->Arg(10)->UseManualTime()->Iterations(1);

// A game writes "GetVersion" (a new text each time) and looks at the clipboard every
// millisecond until the reply stands there; the requests come at all moments of the look
// period.
void getVersionRoundTrip(benchmark::State& state) {
  const RunningPlugin plugin;
  std::vector<double> samples;
  int asked = 0;
  for (auto _ : state) {
    const auto start = WallClock::now();
    memory_clipboard::setText(requestText("GetVersion", "") + "#" + std::to_string(++asked));
    while (memory_clipboard::text() != VERSION_TEXT &&
           WallClock::now() - start < std::chrono::seconds(2)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto elapsed = WallClock::now() - start;
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    samples.push_back(std::chrono::duration<double, std::milli>(elapsed).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(asked * 7 % 100));
  }
  reportSpread(state, samples);
}
BENCHMARK(getVersionRoundTrip)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace
}  // namespace sorlinx
