// The frame reader written the plain way: std::string cuts, and each field read by a
// std::istringstream in the classic locale. Slow, but plainly what a stream reads, so the
// tests and the benchmark hold the plugin's reader against it.
#pragma once

#include <optional>
#include <string>

#include "positional/position_frame.h"

namespace sorlinx::testing {

// Same contract as readPositionRecord, on a std::string whose read records are erased.
std::optional<PositionRecord> readPositionRecordWithStreams(std::string& frameText);

}  // namespace sorlinx::testing
