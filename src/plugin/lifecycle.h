// The start and stop sequences without the worker threads. ts3plugin_init runs prepareStart
// and then starts the workers; ts3plugin_shutdown stops the workers and then runs
// finishStop. The simulator runs the same two around worker passes of its own.
#pragma once

namespace sorlinx {

// Allocates the identity buffer, reads the user's identity into it, and learns the current
// server connection and its status (0 when the status cannot be asked).
void prepareStart();

// Wipes and frees the identity buffer. Only once no worker runs any more.
void finishStop() noexcept;

}  // namespace sorlinx
