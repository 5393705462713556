// The game's side of the clipboard channel, for trying requests by hand: wraps a command
// and its argument text in the envelope, puts the request on the clipboard and waits for
// the plugin's reply.
#pragma once

#include <string>
#include <string_view>

#include "plugin/pacer.h"

namespace sorlinx::send {

// Whether the plugin answers this command on the clipboard.
bool commandReplies(std::string_view command);

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

// Puts the request on the clipboard and, if asked, waits for the text to change to
// something else, which it takes as the reply. When the clipboard already holds this very
// request, the plugin would take the new copy for the old one; a neutral text is put first
// and left for longer than one polling period, so that the request counts as new.
Result sendRequest(std::string_view command, std::string_view arguments, const Options& options,
                   Pacer& pacer);

}  // namespace sorlinx::send
