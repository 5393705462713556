#include "shared/info_board.h"

#include <algorithm>

namespace sorlinx {

constinit InfoBoard infoBoard;
std::array<Published<ClientSpot>, std::size_t{std::numeric_limits<ClientId>::max()} + 1>
    InfoBoard::spots_;

namespace {

// The first members of a list, and its length.
void showList(const std::vector<ClientId>& list, std::array<ClientId, PANEL_LIST_SHOWN>& shown,
              std::uint32_t& count) noexcept {
  shown = {};
  const std::size_t kept = std::min(list.size(), shown.size());
  std::copy_n(list.begin(), kept, shown.begin());
  count = static_cast<std::uint32_t>(
      std::min<std::size_t>(list.size(), std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

void InfoBoard::startRun(const std::vector<ClientId>& rc,
                         const std::vector<ClientId>& rl) noexcept {
  changePanel([&](PanelState& state) {
    // The spots of the last run carry older numbers than any change of this one.
    const std::uint32_t generation = state.listGeneration;
    state = PanelState{};
    state.listGeneration = state.runGeneration = generation;
    showList(rc, state.rc, state.rcCount);
    showList(rl, state.rl, state.rlCount);
  });
  const WriterGuard guard(writing_);
  failure_.store(FailureState{});
  localClientShown_.store(0);
}

void InfoBoard::noteRequest(std::uint8_t command, Milliseconds now) noexcept {
  changePanel([&](PanelState& state) {
    ++state.requests;
    state.lastCommand = command;
    state.lastRequestAt = now.count();
  });
}

std::uint32_t InfoBoard::beginListChange() noexcept {
  std::uint32_t generation = 0;
  changePanel([&](PanelState& state) { generation = ++state.listGeneration; });
  return generation;
}

bool InfoBoard::notePlacement(ClientId client, const Vector3& position, RadioList radio,
                              bool keepRadio, bool byReset, std::uint32_t generation,
                              Milliseconds now) noexcept {
  Published<ClientSpot>& slot = spots_[client];
  ClientSpot spot = slot.load();
  const bool first = spot.generation != generation;
  if (!keepRadio || first) {
    spot.radio = keepRadio ? RadioList::none : radio;
  }
  spot.at = now.count();
  spot.position = position;
  spot.generation = generation;
  spot.byReset = byReset;
  slot.store(spot);
  return first;
}

void InfoBoard::noteFrame(std::uint32_t placed, const std::vector<ClientId>& rc,
                          const std::vector<ClientId>& rl, Milliseconds now) noexcept {
  changePanel([&](PanelState& state) {
    ++state.frames;
    state.placed = placed;
    state.frameAt = now.count();
    showList(rc, state.rc, state.rcCount);
    showList(rl, state.rl, state.rlCount);
  });
}

void InfoBoard::noteReset(Milliseconds now) noexcept {
  changePanel([&](PanelState& state) {
    ++state.resets;
    ++state.listGeneration;
    state.resetAt = now.count();
    state.rc = {};
    state.rl = {};
    state.rcCount = state.rlCount = 0;
  });
}

void InfoBoard::noteFailure(std::string_view line, Milliseconds now) noexcept {
  const WriterGuard guard(writing_);
  FailureState state = failure_.load();
  ++state.failures;
  state.at = now.count();
  state.line = {};
  line.copy(state.line.data(), state.line.size() - 1);
  failure_.store(state);
}

}  // namespace sorlinx
