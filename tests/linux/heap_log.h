// The plugin library's heap, logged for the info panel's checks: the C library's heap
// functions are this program's (heap_log.cpp), and note the blocks the library's code asks
// for or gives back on a thread that logs (support/info_panel_checks.h).
#pragma once

namespace sorlinx::testing {

// Watches the library (a dlopen handle) that holds `symbol`.
void logHeapOf(void* library, const char* symbol);

}  // namespace sorlinx::testing
