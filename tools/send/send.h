// The game's side of the clipboard channel, for trying requests by hand: wraps a command
// and its argument text in the envelope, puts the request on the clipboard and waits for
// the plugin's reply.
#pragma once

#include <string>
#include <string_view>

#include "shared/pacer.h"

namespace sorlinx::send {

// The command a text asks for, read the way the plugin reads it; empty when the text is
// not a request.
std::string_view commandOf(std::string_view text);

// The text of round `round` (counted from 0) of a repeated request: the text itself, then
// the text with "#2", "#3", ... after it. The plugin ignores what follows the closing tag,
// but a text equal to the last one is no new request to it, so each round must differ.
std::string roundText(std::string_view text, int round);

// Why no reply may have come to `command`, and how to tell the possible causes apart.
std::string noReplyAdvice(std::string_view command);

// Pauses that go on answering the programs that read the clipboard: on X11 a text written
// is handed out only from within the clipboard calls, so a pause that only slept would keep
// the plugin from reading the request. (Elsewhere the look costs next to nothing.)
class ServingPacer final : public Pacer {
 public:
  explicit ServingPacer(Pacer& clock) noexcept : clock_(clock) {}
  Milliseconds now() override { return clock_.now(); }
  bool pause(Milliseconds duration) override;

 private:
  Pacer& clock_;
};

struct Options {
  // How long to wait for a reply.
  Milliseconds timeout{2000};
  // Wait for a reply at all (false for commands that never answer).
  bool waitForReply = true;
};

enum class Outcome {
  replied,               // the clipboard changed to a reply
  sent,                  // the request is on the clipboard; no reply was awaited
  noReply,               // nothing changed the clipboard within the timeout
  clipboardUnavailable,  // the clipboard stayed held by another program
};

struct Result {
  Outcome outcome;
  std::string reply;
};

// Puts the request (the whole text, envelope included) on the clipboard and, if asked,
// waits for the text to change to
// something else, which it takes as the reply. When the clipboard already holds this very
// request, the plugin would take the new copy for the old one; a neutral text is put first
// and left for longer than one polling period, so that the request counts as new.
Result sendRequest(std::string_view request, const Options& options, Pacer& pacer);

}  // namespace sorlinx::send
