// What a fuzz target does when something it checks does not hold: it says what, and aborts,
// so that libFuzzer keeps the input as a crash and the replay program fails on it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace sorlinx::fuzz {

[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz check failed: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size()), detail.data());
  }
  std::abort();
}

inline void check(bool holds, std::string_view what) {
  if (!holds) {
    fail(what);
  }
}

}  // namespace sorlinx::fuzz
