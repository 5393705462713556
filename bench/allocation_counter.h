// Counts calls of the global operator new in the benchmark programs.
#pragma once

#include <cstdint>

namespace sorlinx::bench {

std::uint64_t allocationCount() noexcept;

}  // namespace sorlinx::bench
