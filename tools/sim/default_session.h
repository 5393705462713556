// The session sorlinx-sim runs when it is given none: one that shows every command.
#pragma once

namespace sorlinx::sim {

extern const char* const DEFAULT_SESSION;

}  // namespace sorlinx::sim
