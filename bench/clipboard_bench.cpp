// The clipboard worker's costs: an idle pass (the clipboard unchanged since the last read)
// with a short and with a 16 MiB text on it, the heap the channel keeps after each, the pass
// that reads a new 16 MiB text, and the time ts3plugin_shutdown takes with the worker
// threads running.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>

#include "allocation_counter.h"
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

}  // namespace
}  // namespace sorlinx
