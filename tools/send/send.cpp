#include "send.h"

#include <algorithm>
#include <string>

#include "clipboard/clipboard.h"
#include "clipboard/clipboard_channel.h"
#include "clipboard/command_names.h"

namespace sorlinx::send {

namespace {

constexpr Milliseconds POLL{10};
// How long another program may hold the clipboard before we give up on writing.
constexpr Milliseconds WRITE_PATIENCE{1000};
constexpr std::string_view NEUTRAL_TEXT = "sorlinx-send";

bool writeWithPatience(std::string_view text, Pacer& pacer) {
  const Milliseconds deadline = pacer.now() + WRITE_PATIENCE;
  std::uint64_t emptiedAt = 0;  // a write of ours that failed is simply made again
  while (!clipboard::writeText(text, emptiedAt)) {
    if (pacer.now() >= deadline || !pacer.pause(POLL)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ServingPacer::pause(Milliseconds duration) {
  const Milliseconds end = clock_.now() + duration;
  for (Milliseconds left = duration; left > Milliseconds(0); left = end - clock_.now()) {
    clipboard::changeCount();
    if (!clock_.pause(std::min(left, POLL))) {
      return false;
    }
  }
  return true;
}

std::string_view commandOf(std::string_view text) {
  const auto payload = envelopePayload(text);
  return payload && !payload->empty() ? splitPayload(*payload).command : std::string_view();
}

std::string roundText(std::string_view text, int round) {
  std::string result(text);
  if (round > 0) {
    result.append("#").append(std::to_string(round + 1));
  }
  return result;
}

std::string noReplyAdvice(std::string_view command) {
  if (command == "GetVersion") {
    return "no plugin: it answers GetVersion whether connected or not, so it is not running; "
           "check that it is enabled in the voice client's plugin settings";
  }
  if (commandReplies(command)) {
    return "no plugin, or not connected: the plugin answers this only while the voice client is "
           "connected to a server; if 'sorlinx-send GetVersion' answers, the plugin runs and the "
           "client is not connected, otherwise the plugin is not running";
  }
  if (commandNamed(command)) {
    return "this command never answers; look at what it did in the voice client instead";
  }
  return "unknown command: the plugin ignores commands it does not know, and compares names "
         "byte for byte, case included";
}

Result sendRequest(std::string_view request, const Options& options, Pacer& pacer) {
  std::string current;
  if (clipboard::readText(current) && current == request) {
    if (!writeWithPatience(NEUTRAL_TEXT, pacer)) {
      return {Outcome::clipboardUnavailable, {}};
    }
    pacer.pause(POLLING_PERIOD * 2);
  }
  // Counted before the write, not after: the plugin may read the request and reply before
  // this program looks again (it reads at once when told of a change, and this program may
  // be kept waiting by a busy machine), and a count taken after the reply would pass the
  // reply over as the request's own change. The first look reads the request back instead.
  std::uint64_t seen = clipboard::changeCount();
  if (!writeWithPatience(request, pacer)) {
    return {Outcome::clipboardUnavailable, {}};
  }
  if (!options.waitForReply) {
    return {Outcome::sent, {}};
  }

  const Milliseconds deadline = pacer.now() + options.timeout;
  while (pacer.now() < deadline && pacer.pause(POLL)) {
    const std::uint64_t count = clipboard::changeCount();
    if (count != 0 && count == seen) {
      continue;
    }
    if (clipboard::readText(current)) {
      seen = count;
      if (current != request) {
        return {Outcome::replied, current};
      }
    }
  }
  return {Outcome::noReply, {}};
}

}  // namespace sorlinx::send
