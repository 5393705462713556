// The plugin's two worker threads, each a thin loop around one pass that tests and the
// simulator call directly: clipboardThread reads the game's requests and runs them,
// soundCueThread plays the radio cues. ts3plugin_init starts them, ts3plugin_shutdown sets
// stopRequested and joins them; every pause goes through pluginState.pacer, which a stop
// cuts short.
#pragma once

#include "clipboard/clipboard_channel.h"

namespace sorlinx {

// One pass of clipboardThread, without its pause: read the clipboard when it has changed,
// dispatch a new request, then run the stale-frame check and the info panel's refresh.
void clipboardPass(ClipboardChannel& channel);

// The worker: a pass every POLLING_PERIOD until stop is requested; lets go of the
// platform's clipboard when it ends. The argument is unused.
unsigned long clipboardThread(void* unused);

// The worker: cue passes, each followed by the pause it asks for, until stop is requested.
// The argument is unused.
unsigned long soundCueThread(void* unused);

}  // namespace sorlinx
