// The clipboard channel: the game puts requests on the clipboard inside an envelope,
// clipboardThread polls for them, and this reads each new one, takes it apart and hands it
// to the dispatcher it is given; replies replace the request on the clipboard.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "clipboard/envelope.h"
#include "clipboard/seen_text.h"
#include "shared/info_board.h"
#include "shared/pacer.h"

namespace sorlinx {

// The regular looks at the clipboard: one every POLLING_PERIOD, whatever else happens.
inline constexpr Milliseconds POLLING_PERIOD{100};

// What brought a pass: the regular look, or the platform's notice that the clipboard changed
// in between (an extra pass). Only regular looks count towards the stale-frame reset, so
// that it comes after the same time however many notices came meanwhile.
enum class PassKind { regular, notice };

// The private state of clipboardThread; it starts empty each time the thread starts.
struct ClipboardChannel {
  // The text read on the last pass that read one.
  std::string currentText;
  // The text the next pass compares against.
  SeenText lastText;
  // The reply to the last text taken could not be written: the next pass that reads the
  // same text takes it again, whatever the change counter says.
  bool replyOwed = false;
  // Regular looks since the last request (or reset) that found the clipboard unchanged,
  // including those that could not read it. Extra passes neither count nor zero it.
  std::uint32_t unchangedPasses = 0;
  // A request has arrived since the last stale-frame reset.
  bool requestSeen = false;
  // The clipboard's text was too large to copy, and that was logged.
  bool tooLargeLogged = false;
  // The clipboard's change counter at the last successful read; 0 before any.
  std::uint64_t lastChangeCount = 0;
  // The argument text handed to the handler, which may consume it in place.
  std::string argumentText;
  // When the next regular look is due, on the pacer's clock: a POLLING_PERIOD after the
  // last regular pass ended. Extra passes leave it where it is.
  Milliseconds nextLook{0};
  // When the voice client was last asked to show the info panel afresh.
  PanelRefresh panelRefresh;
};

// Runs one request's handler: the command and the argument text, which the handler may
// consume in place.
using RequestDispatcher = void (*)(std::string_view command, std::string& argumentText);

// The reading half of a clipboardThread pass: reads the clipboard when it has changed and
// hands a new request (or the one whose reply is owed, found again) to `dispatch`. Counts
// a regular pass in unchangedPasses when it found the clipboard unchanged; the stale-frame
// check is the caller's.
void readClipboardRequest(ClipboardChannel& channel, RequestDispatcher dispatch, PassKind kind);

// Lets go of read buffers grown by an unusually large text, at the end of a pass.
void trimClipboardBuffers(ClipboardChannel& channel);

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
