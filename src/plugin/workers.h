// The plugin's two worker threads, each a thin loop around one pass that tests and the
// simulator call directly: clipboardThread reads the game's requests and runs them,
// soundCueThread plays the radio cues. ts3plugin_init starts them, ts3plugin_shutdown sets
// stopRequested and joins them; every pause and wait goes through pluginState.pacer, which
// a stop cuts short.
#pragma once

#include <optional>

#include "clipboard/clipboard_channel.h"

namespace sorlinx {

// One pass of clipboardThread, without its wait: read the clipboard when it has changed,
// dispatch a new request, then run the stale-frame check and the info panel's refresh.
void clipboardPass(ClipboardChannel& channel, PassKind kind = PassKind::regular);

// The schedule of the regular looks, which notices never move. After a pass of `kind` that
// ended at `now`: a regular one sets the next regular look (channel.nextLook) a
// POLLING_PERIOD later. A wake-up at `now` then brings a regular pass once that look is
// due, whatever woke the worker, so that a notice never adds a pass to the regular ones.
void passEnded(ClipboardChannel& channel, PassKind kind, Milliseconds now);
PassKind passKindAt(const ClipboardChannel& channel, Milliseconds now);

// One turn of clipboardThread: the pass of `kind`, then the wait for the next pass, which
// ends at the next regular look, at the platform's notice of a change before it (null: no
// notices), or at a stop. Returns the next pass's kind, or nothing when stopping.
std::optional<PassKind> clipboardTurn(ClipboardChannel& channel, PassKind kind,
                                      ChangeNotices* notices);

// The worker: turns from a regular pass on until stop is requested, listening for the
// platform's notices meanwhile; lets go of them and of the platform's clipboard when it
// ends. The argument is unused.
unsigned long clipboardThread(void* unused);

// The worker: cue passes, each followed by the pause it asks for, until stop is requested.
// The argument is unused.
unsigned long soundCueThread(void* unused);

}  // namespace sorlinx
