// The clipboard worker's idle pass over the X11 clipboard, on an Xvfb server of its own:
// a pass that finds the selection's owner unchanged, with a short and with a 16 MiB text
// (which xclip hands over in pieces, refused once) on the clipboard, and with the plugin's
// own reply on it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <thread>

#include "allocation_counter.h"
#include "clipboard/clipboard.h"
#include "interfaces/interface26.h"
#include "plugin/workers.h"
#include "shared/plugin_state.h"
#include "voice_client.h"
#include "x_display.h"

namespace sorlinx {
namespace {

void idlePass(benchmark::State& state) {
  static std::optional<testing::Xvfb> server;
  if (!server) {
    server.emplace();
    setenv("DISPLAY", server->name().c_str(), 1);
  }
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

}  // namespace
}  // namespace sorlinx
