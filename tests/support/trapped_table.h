// A voice client's table whose every slot that the plugin never calls stops the program
// with the slot's number, instead of being a null pointer that would crash anonymously or,
// in a real voice client, call some unrelated function.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "host/host_functions.h"

namespace sorlinx::testing {

inline constexpr std::size_t HOST_TABLE_SLOTS = sizeof(HostFunctions) / sizeof(UnusedEntry);

template <std::size_t Slot>
void SORLINX_CDECL unexpectedSlot() {
  std::fprintf(stderr, "the plugin called slot %zu of the voice client's table\n", Slot);
  std::abort();
}

template <std::size_t... Slots>
constexpr std::array<UnusedEntry, sizeof...(Slots)> slotTraps(std::index_sequence<Slots...>) {
  return {&unexpectedSlot<Slots>...};
}

// `table` with each null slot replaced by a trap that names it.
inline HostFunctions trappedTable(const HostFunctions& table) {
  static constexpr auto TRAPS = slotTraps(std::make_index_sequence<HOST_TABLE_SLOTS>());
  std::array<UnusedEntry, HOST_TABLE_SLOTS> slots{};
  std::memcpy(slots.data(), &table, sizeof table);
  for (std::size_t slot = 0; slot < HOST_TABLE_SLOTS; ++slot) {
    if (slots[slot] == nullptr) {
      slots[slot] = TRAPS[slot];
    }
  }
  HostFunctions trapped{};
  std::memcpy(&trapped, slots.data(), sizeof trapped);
  return trapped;
}

}  // namespace sorlinx::testing
