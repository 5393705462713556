// The positional voice's costs: reading a frame of typical records with the plugin's
// reader and with the stream-based reference reader, and applying frames through handle3D
// to a voice client that does nothing, which is also how long stateLock is held.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "allocation_counter.h"
#include "interfaces/interface26.h"
#include "plugin/exports.h"
#include "positional/placement.h"
#include "positional/position_frame.h"
#include "shared/plugin_state.h"
#include "support/stream_frame_reader.h"

namespace sorlinx {
namespace {

// Records like {7[-3.25,10,0.5][RC]}: a spread of clients, positions and flags.
std::string typicalFrame(int records, bool allRc = false) {
  constexpr const char* FLAGS[] = {"", "[RC]", "", "[RL]", "", "[CD]"};
  std::string frame;
  for (int i = 0; i < records; ++i) {
    frame += "{" + std::to_string(i + 1) + "[" + std::to_string(i % 50 - 25) + ".25," +
             std::to_string(10 + i % 7) + "," + std::to_string(i % 3) + ".5]" +
             (allRc ? "[RC]" : FLAGS[i % 6]) + "}";
  }
  return frame;
}

void countPerRecord(benchmark::State& state, std::int64_t records,
                    std::uint64_t allocationsBefore) {
  const auto total = static_cast<double>(state.iterations() * records);
  state.counters["ns_per_record"] =
      benchmark::Counter(total, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["allocations_per_record"] =
      static_cast<double>(bench::allocationCount() - allocationsBefore) / total;
}

void readFrame(benchmark::State& state) {
  const std::string frame = typicalFrame(64);
  const std::uint64_t allocationsBefore = bench::allocationCount();
  for (auto _ : state) {
    std::string_view rest = frame;
    while (const auto record = readPositionRecord(rest)) {
      benchmark::DoNotOptimize(record->position);
    }
  }
  countPerRecord(state, 64, allocationsBefore);
}
BENCHMARK(readFrame);

void readFrameWithStreams(benchmark::State& state) {
  const std::string frame = typicalFrame(64);
  const std::uint64_t allocationsBefore = bench::allocationCount();
  for (auto _ : state) {
    std::string rest = frame;
    while (const auto record = testing::readPositionRecordWithStreams(rest)) {
      benchmark::DoNotOptimize(record->position);
    }
  }
  countPerRecord(state, 64, allocationsBefore);
}
BENCHMARK(readFrameWithStreams);

HostError SORLINX_CDECL placeNowhere(ServerConnectionId, ClientId, const Vector3*) { return 0; }

// A 1,000-record frame through handle3D; the time per frame is how long stateLock is held.
// Argument 1: every record an [RC] for a different client, the longest list there can be.
void applyFrame(benchmark::State& state) {
  interface26::FunctionTable table{};
  table.channelset3DAttributes = placeNowhere;
  interface26::setFunctionPointers(table);
  pluginState.connectionStatus.store(STATUS_CONNECTION_ESTABLISHED);
  const std::string frame = typicalFrame(1000, state.range(0) == 1);
  std::string argumentText = frame;
  handle3D(argumentText);  // the lists grow to their size once
  const std::uint64_t allocationsBefore = bench::allocationCount();
  for (auto _ : state) {
    handle3D(argumentText);
  }
  countPerRecord(state, 1000, allocationsBefore);
}
BENCHMARK(applyFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace sorlinx
