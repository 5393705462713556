#include "clipboard/clipboard_channel.h"

#include <atomic>
#include <new>

#include "clipboard/clipboard.h"
#include "clipboard/command_names.h"
#include "shared/info_board.h"
#include "shared/plugin_state.h"

namespace sorlinx {

namespace {
// A read buffer grown by an unusually large text is let go after the pass, so that one
// huge clipboard text does not pin its size in memory for the rest of the session.
constexpr std::size_t KEPT_BUFFER_CAPACITY = SeenText::KEPT_TEXT_SIZE;

// Replies that could not be written, counted by writeClipboardText; a pass compares the
// count around its dispatch. Atomic because tests also call the handlers on their own.
std::atomic<std::uint32_t> lostReplies{0};

// The clipboard's change counter when the request being dispatched was read; 0 outside a
// dispatch, or where the platform has no counter. A reply replaces its request, never a
// text that the game or the player put on the clipboard after it.
std::atomic<std::uint64_t> requestChangeCount{0};

void releaseIfLarge(std::string& buffer) {
  if (buffer.capacity() > KEPT_BUFFER_CAPACITY) {
    std::string().swap(buffer);
  }
}

// Reads the clipboard into channel.currentText when it may have changed since the last
// read. Returns true when a fresh text was read.
bool readChangedText(ClipboardChannel& channel) {
  // Read the counter before the text: a change that lands in between then shows up again
  // on the next pass, which rereads and finds the same text.
  const std::uint64_t changeCount = clipboard::changeCount();
  if (changeCount != 0 && changeCount == channel.lastChangeCount) {
    return false;
  }
  try {
    if (!clipboard::readText(channel.currentText)) {
      return false;  // held elsewhere or no text: try again next pass
    }
  } catch (const std::bad_alloc&) {
    // Too large to copy. Retrying every pass would only fail the same way and flood the
    // log, so this clipboard content counts as seen. Where the platform has no change
    // counter, the next passes try again all the same; they log nothing more.
    std::string().swap(channel.currentText);
    channel.lastChangeCount = changeCount;
    if (!channel.tooLargeLogged) {
      logError("erreur clipboardThread: texte trop grand");
    }
    channel.tooLargeLogged = true;
    return false;
  }
  channel.lastChangeCount = changeCount;
  channel.tooLargeLogged = false;
  return true;
}

// What the info panel shows of a request: its command, when the plugin knows it.
std::uint8_t panelCommand(std::string_view payload) {
  const std::optional<Command> command =
      payload.empty() ? std::nullopt : commandNamed(splitPayload(payload).command);
  return command ? static_cast<std::uint8_t>(static_cast<std::uint8_t>(*command) + 1)
                 : PANEL_UNKNOWN_COMMAND;
}

void takeRequest(ClipboardChannel& channel, std::string_view payload, RequestDispatcher dispatch) {
  channel.requestSeen = true;
  channel.unchangedPasses = 0;
  infoBoard.noteRequest(panelCommand(payload), pluginState.pacer->now());
  if (payload.empty()) {
    return;
  }
  const Request request = splitPayload(payload);
  channel.argumentText.assign(request.arguments);
  try {
    dispatch(request.command, channel.argumentText);
  } catch (...) {
    // A handler that fails ends its request, never the thread.
    logError("erreur dispatchRequest");
  }
}

// Dispatches the text just read when it is a request. `retrying`: it is the request whose
// reply is owed, taken again.
void takeText(ClipboardChannel& channel, bool retrying, RequestDispatcher dispatch) {
  channel.replyOwed = false;
  const std::uint32_t lostBefore = lostReplies.load();
  if (const auto payload = envelopePayload(channel.currentText)) {
    requestChangeCount.store(channel.lastChangeCount);
    takeRequest(channel, *payload, dispatch);
    requestChangeCount.store(0);
  }
  if (lostReplies.load() != lostBefore) {
    // The game would wait for this reply forever, and writing the same request again would
    // not help, since it equals the last text. So the request stays owed: the next pass
    // reads the clipboard even if nothing changed, and takes the request again if it is
    // still there. The queries only read the voice client's state, so asking again is
    // harmless. One line for the lost reply, however many passes it takes.
    channel.replyOwed = true;
    channel.lastChangeCount = 0;
    if (!retrying) {
      logError("erreur writeClipboardText");
    }
  }
}

}  // namespace

void readClipboardRequest(ClipboardChannel& channel, RequestDispatcher dispatch, PassKind kind) {
  // A pass that cannot read the clipboard counts as unchanged and leaves the change
  // detection as it was, so a request is never dispatched twice for one appearance.
  const bool read = readChangedText(channel);
  if (read && channel.lastText.replace(channel.currentText)) {
    takeText(channel, false, dispatch);
  } else if (read && channel.replyOwed) {
    takeText(channel, true, dispatch);
  } else if (kind == PassKind::regular) {
    ++channel.unchangedPasses;
  }
}

void trimClipboardBuffers(ClipboardChannel& channel) {
  releaseIfLarge(channel.currentText);
  releaseIfLarge(channel.argumentText);
}

void writeClipboardText(std::string_view reply) {
  std::uint64_t expectedCount = requestChangeCount.load();
  for (int attempt = 1;; ++attempt) {
    if (expectedCount != 0 && clipboard::changeCount() != expectedCount) {
      break;  // written over meanwhile: that text is not ours to replace
    }
    std::uint64_t emptiedAt = 0;
    if (clipboard::writeText(reply, emptiedAt)) {
      return;
    }
    if (expectedCount != 0 && emptiedAt != 0) {
      expectedCount = emptiedAt;  // our own attempt emptied it: still ours to fill
    }
    if (attempt == REPLY_ATTEMPTS || !pluginState.pacer->pause(REPLY_RETRY_PAUSE)) {
      break;
    }
  }
  lostReplies.fetch_add(1);
}

}  // namespace sorlinx
