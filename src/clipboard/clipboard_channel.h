// The clipboard channel: the game puts requests on the clipboard inside an envelope,
// clipboardThread polls for them, takes each new one apart and dispatches it; replies
// replace the request on the clipboard.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "clipboard/envelope.h"
#include "clipboard/seen_text.h"
#include "plugin/pacer.h"

namespace sorlinx {

inline constexpr Milliseconds POLLING_PERIOD{100};

// The private state of clipboardThread; it starts empty each time the thread starts.
struct ClipboardChannel {
  // The text read on the last pass that read one.
  std::string currentText;
  // The text the next pass compares against.
  SeenText lastText;
  // The reply to the last text taken could not be written: the next pass that reads the
  // same text takes it again, whatever the change counter says.
  bool replyOwed = false;
  // Passes since the last request (or reset) that found the clipboard unchanged,
  // including the passes that could not read it.
  std::uint32_t unchangedPasses = 0;
  // A request has arrived since the last stale-frame reset.
  bool requestSeen = false;
  // The clipboard's text was too large to copy, and that was logged.
  bool tooLargeLogged = false;
  // The clipboard's change counter at the last successful read; 0 before any.
  std::uint64_t lastChangeCount = 0;
  // The argument text handed to the handler, which may consume it in place.
  std::string argumentText;
};

// One pass of clipboardThread, without its pause: read the clipboard when it has changed,
// dispatch a new request, then run the stale-frame check.
void clipboardPass(ClipboardChannel& channel);

// The worker: a pass every POLLING_PERIOD until stop is requested. The argument is unused.
unsigned long clipboardThread(void* unused);

// How often a reply is tried within one pass before it waits for the next, and the pause
// between tries: the game itself often holds the clipboard for a moment while it looks for
// the reply.
inline constexpr int REPLY_ATTEMPTS = 3;
inline constexpr Milliseconds REPLY_RETRY_PAUSE{10};

// Replaces the clipboard's contents with a reply: the request it answers, when that still
// stands there; a text written over the request meanwhile is kept. A reply that cannot be
// written is owed: while its request stands on the clipboard, a later pass takes it again,
// so that it is answered all the same.
void writeClipboardText(std::string_view reply);

}  // namespace sorlinx
