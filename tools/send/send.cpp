#include "send.h"

#include <array>

#include "clipboard/clipboard.h"
#include "clipboard/clipboard_channel.h"

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

bool commandReplies(std::string_view command) {
  constexpr std::array ANSWERING{
      std::string_view("GetPlayerID"), std::string_view("GetPlayerIDFromName"),
      std::string_view("GetCurrentChannelID"), std::string_view("GetVersion")};
  for (const std::string_view name : ANSWERING) {
    if (name == command) {
      return true;
    }
  }
  return false;
}

Result sendRequest(std::string_view command, std::string_view arguments, const Options& options,
                   Pacer& pacer) {
  const std::string request = requestText(command, arguments);

  std::string current;
  if (clipboard::readText(current) && current == request) {
    if (!writeWithPatience(NEUTRAL_TEXT, pacer)) {
      return {Outcome::clipboardUnavailable, {}};
    }
    pacer.pause(POLLING_PERIOD * 2);
  }
  if (!writeWithPatience(request, pacer)) {
    return {Outcome::clipboardUnavailable, {}};
  }
  if (!options.waitForReply) {
    return {Outcome::sent, {}};
  }

  const Milliseconds deadline = pacer.now() + options.timeout;
  std::uint64_t seen = clipboard::changeCount();
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
