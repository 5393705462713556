// A voice client's table whose slots the plugin must never call are traps that name their
// slot, instead of null pointers that would crash anonymously or, in a real voice client,
// call some unrelated function. Works for any interface's table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "shared/host.h"

namespace sorlinx::testing {

using Slot = void(SORLINX_CDECL*)();

// What a trap does: by default, says which slot was called and stops the program. A test
// that calls traps on purpose points this elsewhere.
inline void (*trapHandler)(std::size_t slot) = [](std::size_t slot) {
  std::fprintf(stderr, "the plugin called slot %zu of the voice client's table\n", slot);
  std::abort();
};

template <std::size_t Index>
void SORLINX_CDECL trap() {
  trapHandler(Index);
}

template <std::size_t... Indexes>
constexpr std::array<Slot, sizeof...(Indexes)> traps(std::index_sequence<Indexes...>) {
  return {&trap<Indexes>...};
}

// The first `Count` slots of a table: `table`'s, each null one replaced by its trap
// (`everySlot` replaces them all), then traps for the slots past its end, for a voice
// client whose table is longer than the declaration at hand.
template <std::size_t Count, typename Table>
std::array<Slot, Count> trappedSlots(const Table& table, bool everySlot = false) {
  constexpr std::size_t SLOTS = sizeof(Table) / sizeof(Slot);
  static_assert(sizeof(Table) == SLOTS * sizeof(Slot) && SLOTS <= Count);
  static constexpr auto TRAPS = traps(std::make_index_sequence<Count>());
  std::array<Slot, Count> slots{};
  std::memcpy(slots.data(), &table, sizeof table);
  for (std::size_t slot = 0; slot < Count; ++slot) {
    if (everySlot || slots[slot] == nullptr) {
      slots[slot] = TRAPS[slot];
    }
  }
  return slots;
}

// `table` with each null slot replaced by its trap; `everySlot` replaces them all.
template <typename Table>
Table trappedTable(const Table& table, bool everySlot = false) {
  const auto slots = trappedSlots<sizeof(Table) / sizeof(Slot)>(table, everySlot);
  Table trapped{};
  std::memcpy(&trapped, slots.data(), sizeof trapped);
  return trapped;
}

}  // namespace sorlinx::testing
